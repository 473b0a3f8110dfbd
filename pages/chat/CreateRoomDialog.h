#pragma once
// Names a room to enter or create, optionally as a private room. One exists
// at a time (createRoomDialog); closing it only hides it.
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class CreateRoomDialog : public QDialog {
    Q_OBJECT
public:
    explicit CreateRoomDialog(QWidget* parent = nullptr);
    ~CreateRoomDialog() override;

    QLineEdit* roomNameEdit;
    QCheckBox* createPrivateCheckBox;
    QPushButton* createRoomButton;

public slots:
    void OnButtonClicked();
};

extern CreateRoomDialog* createRoomDialog;
