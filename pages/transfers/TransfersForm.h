#pragma once
// Stand-in for the page until it is built: the class and the calls the main
// window makes, nothing more.
#include <QWidget>

class TransfersForm : public QWidget {
    Q_OBJECT
public:
    explicit TransfersForm(QWidget* parent = nullptr);
    ~TransfersForm() override;
    void Init() { }
    // Recolours every transfer row from the transfer colour settings.
    void RecolorEntries() { }
};

extern TransfersForm* transfersForm;
