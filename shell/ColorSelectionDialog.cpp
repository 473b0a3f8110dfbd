#include "ColorSelectionDialog.h"
#include "ColorSettings.h"
#include "Kit.h"
#include "Settings.h"
#include <QApplication>
#include <QColorDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

QLineEdit* Ui_ColorSelectionDialog::AddRow(QVBoxLayout* group, const char* layoutName, QLabel** label,
    const char* labelName, const char* swatchName, QPushButton** button, const char* buttonName)
{
    auto* row = new QHBoxLayout;
    row->setObjectName(layoutName);
    *label = new QLabel;
    (*label)->setObjectName(labelName);
    auto* swatch = new QLineEdit;
    swatch->setObjectName(swatchName);
    swatch->setReadOnly(true);
    swatch->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    swatch->setMaximumWidth(50);
    *button = new QPushButton;
    (*button)->setObjectName(buttonName);
    row->addWidget(*label);
    row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(swatch);
    row->addWidget(*button);
    group->addLayout(row);
    return swatch;
}

void Ui_ColorSelectionDialog::setupUi(QDialog* dialog)
{
    dialog->setObjectName("ColorSelectionDialog");
    dialog->resize(659, 557);
    horizontalLayout_3 = new QHBoxLayout(dialog);
    horizontalLayout_3->setObjectName("horizontalLayout_3");
    verticalLayout_6 = new QVBoxLayout;
    verticalLayout_6->setObjectName("verticalLayout_6");
    horizontalLayout_3->addLayout(verticalLayout_6);
    horizontalLayout_2 = new QHBoxLayout;
    horizontalLayout_2->setObjectName("horizontalLayout_2");
    verticalLayout_6->addLayout(horizontalLayout_2);

    verticalLayout_4 = new QVBoxLayout;
    verticalLayout_4->setObjectName("verticalLayout_4");
    horizontalLayout_2->addLayout(verticalLayout_4);
    groupBox = new QGroupBox(dialog);
    groupBox->setObjectName("groupBox");
    verticalLayout = new QVBoxLayout(groupBox);
    verticalLayout->setObjectName("verticalLayout");
    windowBackgroundColor = AddRow(verticalLayout, "windowBackgroundLayout", &label, "label", "windowBackgroundColor",
        &windowBackgroundButton, "windowBackgroundButton");
    windowTextColor = AddRow(
        verticalLayout, "windowTextLayout", &label_2, "label_2", "windowTextColor", &windowTextButton, "windowTextButton");
    inputBackgroundColor = AddRow(verticalLayout, "inputBackgroundLayout", &label_3, "label_3", "inputBackgroundColor",
        &inputBackgroundButton, "inputBackgroundButton");
    inputTextColor = AddRow(
        verticalLayout, "inputTextLayout", &label_4, "label_4", "inputTextColor", &inputTextButton, "inputTextButton");
    buttonBackgroundColor = AddRow(verticalLayout, "buttonBackgroundLayout", &label_5, "label_5",
        "buttonBackgroundColor", &buttonBackgroundButton, "buttonBackgroundButton");
    buttonTextColor = AddRow(verticalLayout, "buttonTextLayout", &label_6, "label_6", "buttonTextColor",
        &buttonTextButton, "buttonTextButton");
    verticalLayout_4->addWidget(groupBox);
    chatGroupBox = new QGroupBox(dialog);
    chatGroupBox->setObjectName("chatGroupBox");
    verticalLayout_3 = new QVBoxLayout(chatGroupBox);
    verticalLayout_3->setObjectName("verticalLayout_3");
    chatUsernameColor = AddRow(verticalLayout_3, "windowBackgroundLayout_7", &label_12, "label_12",
        "chatUsernameColor", &chatUsernameButton, "chatUsernameButton");
    chatTimestampColor = AddRow(verticalLayout_3, "windowBackgroundLayout_9", &label_14, "label_14",
        "chatTimestampColor", &chatTimestampButton, "chatTimestampButton");
    chatStatusColor = AddRow(verticalLayout_3, "windowBackgroundLayout_10", &label_15, "label_15", "chatStatusColor",
        &chatStatusButton, "chatStatusButton");
    verticalLayout_4->addWidget(chatGroupBox);
    verticalLayout_4->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));

    verticalLayout_5 = new QVBoxLayout;
    verticalLayout_5->setObjectName("verticalLayout_5");
    horizontalLayout_2->addLayout(verticalLayout_5);
    groupBox_2 = new QGroupBox(dialog);
    groupBox_2->setObjectName("groupBox_2");
    verticalLayout_2 = new QVBoxLayout(groupBox_2);
    verticalLayout_2->setObjectName("verticalLayout_2");
    transferQueuedColor = AddRow(verticalLayout_2, "windowBackgroundLayout_2", &label_7, "label_7",
        "transferQueuedColor", &transferQueuedButton, "transferQueuedButton");
    transferInProgressColor = AddRow(verticalLayout_2, "windowBackgroundLayout_3", &label_8, "label_8",
        "transferInProgressColor", &transferInProgressButton, "transferInProgressButton");
    transferCompleteColor = AddRow(verticalLayout_2, "windowBackgroundLayout_4", &label_9, "label_9",
        "transferCompleteColor", &transferCompleteButton, "transferCompleteButton");
    transferFailedColor = AddRow(verticalLayout_2, "windowBackgroundLayout_5", &label_10, "label_10",
        "transferFailedColor", &transferFailedButton, "transferFailedButton");
    transferOtherColor = AddRow(verticalLayout_2, "windowBackgroundLayout_6", &label_11, "label_11",
        "transferOtherColor", &transferOtherButton, "transferOtherButton");
    verticalLayout_5->addWidget(groupBox_2);
    verticalLayout_5->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));

    horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName("horizontalLayout");
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    saveColorsButton = new QPushButton(dialog);
    saveColorsButton->setObjectName("saveColorsButton");
    horizontalLayout->addWidget(saveColorsButton);
    resetToDefaultsButton = new QPushButton(dialog);
    resetToDefaultsButton->setObjectName("resetToDefaultsButton");
    horizontalLayout->addWidget(resetToDefaultsButton);
    verticalLayout_6->addLayout(horizontalLayout);
    retranslateUi(dialog);
}

void Ui_ColorSelectionDialog::retranslateUi(QDialog* dialog)
{
    auto tr = [](const char* text) { return QApplication::translate("ColorSelectionDialog", text); };
    dialog->setWindowTitle(tr("Select Colors"));
    groupBox->setTitle(tr("Main UI"));
    chatGroupBox->setTitle(tr("Chat"));
    groupBox_2->setTitle(tr("Transfers"));
    const std::pair<QLabel*, const char*> labels[] = { { label, "Window Background" }, { label_2, "Window Text" },
        { label_3, "Input Background" }, { label_4, "Input Text" }, { label_5, "Button Background" },
        { label_6, "Button Text" }, { label_12, "User Names" }, { label_14, "Timestamps" },
        { label_15, "Status Messages" }, { label_7, "Queued" }, { label_8, "In Progress" }, { label_9, "Complete" },
        { label_10, "Failed" }, { label_11, "Other" } };
    for (const auto& [widget, text] : labels)
        widget->setText(tr(text));
    for (QPushButton* button : { windowBackgroundButton, windowTextButton, inputBackgroundButton, inputTextButton,
             buttonBackgroundButton, buttonTextButton, chatUsernameButton, chatTimestampButton, chatStatusButton,
             transferQueuedButton, transferInProgressButton, transferCompleteButton, transferFailedButton,
             transferOtherButton })
        button->setText(tr("Change"));
    saveColorsButton->setText(tr("Save Colors"));
    resetToDefaultsButton->setText(tr("Reset to Defaults"));
}

QLineEdit* Ui_ColorSelectionDialog::SwatchOf(int setting) const
{
    QLineEdit* const swatches[14] = { windowBackgroundColor, windowTextColor, inputBackgroundColor, inputTextColor,
        buttonBackgroundColor, buttonTextColor, transferQueuedColor, transferCompleteColor, transferInProgressColor,
        transferFailedColor, transferOtherColor, chatUsernameColor, chatTimestampColor, chatStatusColor };
    return setting >= 0 && setting < 14 ? swatches[setting] : nullptr;
}

ColorSelectionDialog::ColorSelectionDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui_ColorSelectionDialog>())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    const std::pair<QPushButton*, void (ColorSelectionDialog::*)()> handlers[] = {
        { m_ui->windowBackgroundButton, &ColorSelectionDialog::OnChangeWindowBackground },
        { m_ui->windowTextButton, &ColorSelectionDialog::OnChangeWindowText },
        { m_ui->inputBackgroundButton, &ColorSelectionDialog::OnChangeInputBackground },
        { m_ui->inputTextButton, &ColorSelectionDialog::OnChangeInputText },
        { m_ui->buttonBackgroundButton, &ColorSelectionDialog::OnChangeButtonBackground },
        { m_ui->buttonTextButton, &ColorSelectionDialog::OnChangeButtonText },
        { m_ui->chatUsernameButton, &ColorSelectionDialog::OnChangeChatUsername },
        { m_ui->chatTimestampButton, &ColorSelectionDialog::OnChangeChatTimestamp },
        { m_ui->chatStatusButton, &ColorSelectionDialog::OnChangeChatStatus },
        { m_ui->transferQueuedButton, &ColorSelectionDialog::OnChangeTransferQueued },
        { m_ui->transferInProgressButton, &ColorSelectionDialog::OnChangeTransferInProgress },
        { m_ui->transferCompleteButton, &ColorSelectionDialog::OnChangeTransferComplete },
        { m_ui->transferFailedButton, &ColorSelectionDialog::OnChangeTransferFailed },
        { m_ui->transferOtherButton, &ColorSelectionDialog::OnChangeTransferOther },
        { m_ui->saveColorsButton, &ColorSelectionDialog::OnSaveColors },
        { m_ui->resetToDefaultsButton, &ColorSelectionDialog::OnResetToDefaults },
    };
    for (const auto& [button, slot] : handlers)
        connect(button, &QPushButton::clicked, this, slot);

    FillSwatches(QApplication::palette(), false);
}

void ColorSelectionDialog::FillSwatches(const QPalette& palette, bool fixedDefaults)
{
    for (int i = 0; i < 14; ++i) {
        const ColorSettingInfo& color = kColorSettings[i];
        const QColor fixed = QColor::fromString(color.fixedDefault);
        SetSwatchColor(m_ui->SwatchOf(i),
            color.role != QPalette::NoRole ? palette.color(color.role)
                : fixedDefaults            ? fixed
                                           : SettingColor(color.key, fixed));
    }
}

ColorSelectionDialog::~ColorSelectionDialog() = default;

QColor ColorSelectionDialog::SwatchColor(QLineEdit* swatch) { return swatch->palette().color(QPalette::Base); }

void ColorSelectionDialog::SetSwatchColor(QLineEdit* swatch, const QColor& color)
{
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Base, color);
    swatch->setPalette(palette);
}

void ColorSelectionDialog::ChangeColor(QLineEdit* swatch)
{
    const QColor chosen = QColorDialog::getColor(SwatchColor(swatch), this);
    if (chosen.isValid())
        SetSwatchColor(swatch, chosen);
}

void ColorSelectionDialog::OnChangeWindowBackground() { ChangeColor(m_ui->windowBackgroundColor); }
void ColorSelectionDialog::OnChangeWindowText() { ChangeColor(m_ui->windowTextColor); }
void ColorSelectionDialog::OnChangeInputBackground() { ChangeColor(m_ui->inputBackgroundColor); }
void ColorSelectionDialog::OnChangeInputText() { ChangeColor(m_ui->inputTextColor); }
void ColorSelectionDialog::OnChangeButtonBackground() { ChangeColor(m_ui->buttonBackgroundColor); }
void ColorSelectionDialog::OnChangeButtonText() { ChangeColor(m_ui->buttonTextColor); }
void ColorSelectionDialog::OnChangeTransferComplete() { ChangeColor(m_ui->transferCompleteColor); }
void ColorSelectionDialog::OnChangeTransferQueued() { ChangeColor(m_ui->transferQueuedColor); }
void ColorSelectionDialog::OnChangeTransferInProgress() { ChangeColor(m_ui->transferInProgressColor); }
void ColorSelectionDialog::OnChangeTransferFailed() { ChangeColor(m_ui->transferFailedColor); }
void ColorSelectionDialog::OnChangeTransferOther() { ChangeColor(m_ui->transferOtherColor); }
void ColorSelectionDialog::OnChangeChatUsername() { ChangeColor(m_ui->chatUsernameColor); }
void ColorSelectionDialog::OnChangeChatTimestamp() { ChangeColor(m_ui->chatTimestampColor); }
void ColorSelectionDialog::OnChangeChatStatus() { ChangeColor(m_ui->chatStatusColor); }

void ColorSelectionDialog::OnResetToDefaults() { FillSwatches(defaultPalette, true); }

void ColorSelectionDialog::OnSaveColors()
{
    QColor colors[6];
    for (int i = 0; i < 6; ++i)
        colors[i] = SwatchColor(m_ui->SwatchOf(i));
    QApplication::setPalette(PaletteWithColors(colors));
    for (int i = 0; i < 14; ++i)
        settings.Set(kColorSettings[i].key, Value(SwatchColor(m_ui->SwatchOf(i)).name()));
    emit ColorsSaved();
    accept();
}
