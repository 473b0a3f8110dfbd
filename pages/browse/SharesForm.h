#pragma once
// Stand-in for the page until it is built: the class and the calls the main
// window makes, nothing more.
#include <QWidget>

class SharesForm : public QWidget {
    Q_OBJECT
public:
    explicit SharesForm(QWidget* parent = nullptr);
    ~SharesForm() override;
    void Init() { }
};

extern SharesForm* sharesForm;
