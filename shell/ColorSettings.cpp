#include "ColorSettings.h"
#include "Kit.h"
#include "Settings.h"
#include <QApplication>

const ColorSettingInfo kColorSettings[14] = {
    { "color_window_background", QPalette::Window, nullptr },
    { "color_window_text", QPalette::WindowText, nullptr },
    { "color_input_background", QPalette::Base, nullptr },
    { "color_input_text", QPalette::Text, nullptr },
    { "color_button_background", QPalette::Button, nullptr },
    { "color_button_text", QPalette::ButtonText, nullptr },
    { "color_transfer_queued", QPalette::NoRole, "#3366ff" },
    { "color_transfer_complete", QPalette::NoRole, "#006400" },
    { "color_transfer_in_progress", QPalette::NoRole, "#0000ff" },
    { "color_transfer_failed", QPalette::NoRole, "#ff0a47" },
    { "color_transfer_other", QPalette::NoRole, "#000000" },
    { "color_chat_username", QPalette::NoRole, "#0033ff" },
    { "color_chat_timestamp", QPalette::NoRole, "#0066ff" },
    { "color_chat_status", QPalette::NoRole, "#339933" },
};

void WriteColorDefaults()
{
    defaultPalette = QApplication::palette();
    for (const ColorSettingInfo& color : kColorSettings) {
        const QString value = color.fixedDefault ? QString::fromLatin1(color.fixedDefault)
                                                 : defaultPalette.color(color.role).name();
        settings.SetDefault(color.key, Value(value));
    }
}

QColor SettingColor(const char* key, const QColor& fallback)
{
    const QColor color = QColor::fromString(SettingText(key));
    return color.isValid() ? color : fallback;
}

QPalette PaletteWithColors(const QColor (&colors)[6])
{
    QPalette palette = defaultPalette;
    auto changed = [&](int i) {
        return colors[i].isValid() && colors[i].rgb() != defaultPalette.color(kColorSettings[i].role).rgb();
    };
    for (int i = 0; i < 6; ++i) {
        if (changed(i))
            palette.setColor(kColorSettings[i].role, colors[i]);
    }
    // Each text role follows its background in the table. Disabled text is
    // drawn halfway towards its background: one colour for every group would
    // make a disabled control look just like an enabled one.
    for (int text = 1; text < 6; text += 2) {
        if (!changed(text))
            continue;
        const QColor ink = colors[text];
        const QColor ground = palette.color(QPalette::Active, kColorSettings[text - 1].role);
        palette.setColor(QPalette::Disabled, kColorSettings[text].role,
            QColor((ink.red() + ground.red()) / 2, (ink.green() + ground.green()) / 2,
                (ink.blue() + ground.blue()) / 2));
    }
    return palette;
}

void ApplyColorSettings()
{
    QColor colors[6];
    for (int i = 0; i < 6; ++i)
        colors[i] = SettingColor(kColorSettings[i].key, defaultPalette.color(kColorSettings[i].role));
    QApplication::setPalette(PaletteWithColors(colors));
}
