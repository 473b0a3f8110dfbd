// Colour settings: defaults from the style, the palette built from what is
// stored (a colour that does not parse keeps the style's, not black), and the
// colours dialog's Change, Reset and Save.
#include "ColorSelectionDialog.h"
#include "ColorSettings.h"
#include "helper_kit.h"
#include <QColorDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <cstdlib>

class TestColors : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PrepareKit(); }
    void defaultsAndStartUpPalette();
    void dialogChangesNothingUntilSaved();
};

// Answers the colour picker once it shows: a colour, or cancel when invalid.
static void AnswerPicker(QColor color)
{
    QTimer::singleShot(10, qApp, [color] {
        auto* picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (!picker)
            return AnswerPicker(color);
        if (!color.isValid())
            return picker->reject();
        picker->setCurrentColor(color);
        picker->accept();
    });
}

void TestColors::defaultsAndStartUpPalette()
{
    const QPalette style = QApplication::palette();
    WriteColorDefaults();
    QCOMPARE(settings.Get("color_window_background"), style.color(QPalette::Window).name());
    QCOMPARE(settings.Get("color_button_text"), style.color(QPalette::ButtonText).name());
    QCOMPARE(settings.Get("color_transfer_failed"), QStringLiteral("#ff0a47"));
    QCOMPARE(settings.Get("color_chat_status"), QStringLiteral("#339933"));
    for (const ColorSettingInfo& color : kColorSettings)
        QVERIFY(QRegularExpression("^#[0-9a-f]{6}$").match(settings.Get(color.key)).hasMatch());

    // Applying the defaults leaves the style's look unchanged, disabled
    // controls included.
    ApplyColorSettings();
    QCOMPARE(QApplication::palette().color(QPalette::Base), style.color(QPalette::Base));
    QVERIFY(style.color(QPalette::Disabled, QPalette::Text) != style.color(QPalette::Active, QPalette::Text));
    QVERIFY(QApplication::palette() == style);

    // What the data file brought: good colours, one broken, one missing.
    settings.Set("color_window_background", "#112233");
    settings.Set("color_button_text", "#f0e0d0");
    settings.Set("color_window_text", "no colour at all");
    settings.Clear("color_input_text");
    ApplyColorSettings();
    const QPalette applied = QApplication::palette();
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
        QCOMPARE(applied.color(group, QPalette::Window), QColor("#112233"));
    QCOMPARE(applied.color(QPalette::WindowText), style.color(QPalette::WindowText));
    QCOMPARE(applied.color(QPalette::Text), style.color(QPalette::Text));
    QCOMPARE(
        applied.color(QPalette::Disabled, QPalette::Text), style.color(QPalette::Disabled, QPalette::Text));
    // A chosen text colour is dimmed towards its background on a disabled
    // control, so a disabled button does not look enabled.
    const QColor ink("#f0e0d0");
    const QColor ground = applied.color(QPalette::Button);
    QCOMPARE(applied.color(QPalette::Inactive, QPalette::ButtonText), ink);
    const QColor dimmed = applied.color(QPalette::Disabled, QPalette::ButtonText);
    QVERIFY(dimmed != ink);
    const auto distance = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    };
    QVERIFY(distance(dimmed, ground) < distance(ink, ground));
    QCOMPARE(SettingColor("color_window_text", Qt::darkGreen), QColor(Qt::darkGreen));
    settings.Clear("color_button_text");
    QApplication::setPalette(defaultPalette);
}

void TestColors::dialogChangesNothingUntilSaved()
{
    WriteColorDefaults(); // fills the setting cleared above
    const QString before = settings.Get("color_window_background");
    QWidget window;
    QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog(&window);
    Ui_ColorSelectionDialog* ui = dialog->Form();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Select Colors"));
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->transferQueuedColor), QColor("#3366ff"));

    // A cancelled picker leaves the swatch; a chosen colour shows but is not stored.
    AnswerPicker(QColor());
    ui->transferQueuedButton->click();
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->transferQueuedColor), QColor("#3366ff"));
    AnswerPicker(QColor(255, 0, 0));
    ui->transferQueuedButton->click();
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->transferQueuedColor), QColor(255, 0, 0));
    AnswerPicker(QColor(10, 20, 30));
    ui->windowBackgroundButton->click();
    QCOMPARE(settings.Get("color_transfer_queued"), QStringLiteral("#3366ff"));

    // Reset shows the style's and the fixed colours; closing discards it all.
    ui->resetToDefaultsButton->click();
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->transferQueuedColor), QColor("#3366ff"));
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->windowBackgroundColor), defaultPalette.color(QPalette::Window));
    dialog->close();
    QTRY_VERIFY(!dialog);
    QCOMPARE(settings.Get("color_window_background"), before);

    // Save applies the palette, stores all fourteen and tells the pages.
    dialog = new ColorSelectionDialog(&window);
    ui = dialog->Form();
    QSignalSpy saved(dialog.data(), &ColorSelectionDialog::ColorsSaved);
    AnswerPicker(QColor(255, 0, 0));
    ui->transferQueuedButton->click();
    AnswerPicker(QColor(10, 20, 30));
    ui->windowBackgroundButton->click();
    ui->saveColorsButton->click();
    QCOMPARE(saved.count(), 1);
    QCOMPARE(settings.Get("color_transfer_queued"), QStringLiteral("#ff0000"));
    QCOMPARE(settings.Get("color_window_background"), QStringLiteral("#0a141e"));
    QCOMPARE(QApplication::palette().color(QPalette::Inactive, QPalette::Window), QColor(10, 20, 30));
    // Saving does not make disabled text look enabled either.
    QCOMPARE(QApplication::palette().color(QPalette::Disabled, QPalette::WindowText),
        defaultPalette.color(QPalette::Disabled, QPalette::WindowText));
    QCOMPARE(settings.Get("color_chat_username"), QStringLiteral("#0033ff"));
    QTRY_VERIFY(!dialog);
    QApplication::setPalette(defaultPalette);
}

QTEST_MAIN(TestColors)
#include "tst_colors.moc"
