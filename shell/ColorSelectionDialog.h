#pragma once
// "Select Colors": one swatch and a "Change" button per colour setting. The
// colour being edited is the swatch's own base colour; nothing is stored or
// applied before "Save Colors". The dialog deletes itself when it closes.
#include <QDialog>
#include <memory>

class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

class Ui_ColorSelectionDialog {
public:
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);

    QHBoxLayout* horizontalLayout_3;
    QVBoxLayout* verticalLayout_6;
    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout_4;
    QGroupBox* groupBox;
    QVBoxLayout* verticalLayout;
    QGroupBox* chatGroupBox;
    QVBoxLayout* verticalLayout_3;
    QVBoxLayout* verticalLayout_5;
    QGroupBox* groupBox_2;
    QVBoxLayout* verticalLayout_2;
    QHBoxLayout* horizontalLayout;
    QPushButton* saveColorsButton;
    QPushButton* resetToDefaultsButton;

    // Rows, by group and in order: label, swatch, "Change".
    QLabel *label, *label_2, *label_3, *label_4, *label_5, *label_6;
    QLineEdit *windowBackgroundColor, *windowTextColor, *inputBackgroundColor, *inputTextColor,
        *buttonBackgroundColor, *buttonTextColor;
    QPushButton *windowBackgroundButton, *windowTextButton, *inputBackgroundButton, *inputTextButton,
        *buttonBackgroundButton, *buttonTextButton;
    QLabel *label_12, *label_14, *label_15;
    QLineEdit *chatUsernameColor, *chatTimestampColor, *chatStatusColor;
    QPushButton *chatUsernameButton, *chatTimestampButton, *chatStatusButton;
    QLabel *label_7, *label_8, *label_9, *label_10, *label_11;
    QLineEdit *transferQueuedColor, *transferInProgressColor, *transferCompleteColor, *transferFailedColor,
        *transferOtherColor;
    QPushButton *transferQueuedButton, *transferInProgressButton, *transferCompleteButton, *transferFailedButton,
        *transferOtherButton;

    // The fourteen swatches in the order of the colour settings.
    QLineEdit* SwatchOf(int setting) const;

private:
    QLineEdit* AddRow(QVBoxLayout* group, const char* layoutName, QLabel** label, const char* labelName,
        const char* swatchName, QPushButton** button, const char* buttonName);
};

class ColorSelectionDialog : public QDialog {
    Q_OBJECT
public:
    explicit ColorSelectionDialog(QWidget* parent = nullptr);
    ~ColorSelectionDialog() override;

    Ui_ColorSelectionDialog* Form() const { return m_ui.get(); }
    // The colour a swatch shows.
    static QColor SwatchColor(QLineEdit* swatch);

signals:
    // After the settings were stored: the Transfers page recolours its rows.
    void ColorsSaved();

public slots:
    void OnChangeWindowBackground();
    void OnChangeWindowText();
    void OnChangeInputBackground();
    void OnChangeInputText();
    void OnChangeButtonBackground();
    void OnChangeButtonText();
    void OnSaveColors();
    void OnResetToDefaults();
    void OnChangeTransferComplete();
    void OnChangeTransferQueued();
    void OnChangeTransferInProgress();
    void OnChangeTransferFailed();
    void OnChangeTransferOther();
    void OnChangeChatUsername();
    void OnChangeChatTimestamp();
    void OnChangeChatStatus();

private:
    // The palette colours from the palette; the others from their settings
    // or, for a reset, their fixed defaults.
    void FillSwatches(const QPalette& palette, bool fixedDefaults);
    void ChangeColor(QLineEdit* swatch);
    static void SetSwatchColor(QLineEdit* swatch, const QColor& color);

    std::unique_ptr<Ui_ColorSelectionDialog> m_ui;
};
