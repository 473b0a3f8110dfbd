#pragma once
// Stand-in for the page until it is built: the class and the calls the main
// window makes, nothing more.
#include <QWidget>

class RoomsForm : public QWidget {
    Q_OBJECT
public:
    explicit RoomsForm(QWidget* parent = nullptr);
    ~RoomsForm() override;
    void Init() { }
};

extern RoomsForm* roomsForm;
