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

void ApplyColorSettings()
{
    QPalette palette = defaultPalette;
    for (const ColorSettingInfo& color : kColorSettings) {
        if (color.role == QPalette::NoRole)
            continue;
        palette.setBrush(color.role, QBrush(SettingColor(color.key, defaultPalette.color(color.role))));
    }
    QApplication::setPalette(palette);
}
