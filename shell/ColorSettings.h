#pragma once
// The fourteen colour settings: six roles of the application palette and
// eight colours that their readers look up when they draw (transfer rows,
// chat lines). A stored colour is "#" and six lower-case hexadecimal digits.
#include <QColor>
#include <QPalette>

struct ColorSettingInfo {
    const char* key;
    QPalette::ColorRole role; // NoRole for the colours outside the palette
    const char* fixedDefault; // null for the palette colours
};

// In the order of the settings table: the six palette colours first.
extern const ColorSettingInfo kColorSettings[14];

// Before the data file is read: keeps the style palette in defaultPalette and
// writes each colour's default where the setting has no value.
void WriteColorDefaults();
// The style palette (defaultPalette) with the six palette colours, in the
// order of the table; an invalid colour, or one equal to the style's, leaves
// the style's colours of that role alone in every group. A changed colour
// holds in every group, except that disabled text is drawn halfway towards
// its background, so disabled controls still look disabled.
QPalette PaletteWithColors(const QColor (&colors)[6]);
// After the data file is read: the style palette with the six stored colours,
// as the application palette. A colour that does not parse keeps the style's.
void ApplyColorSettings();
// The colour a setting names, or the fallback when it has none or it does not
// parse (after a failed load the settings may be empty).
QColor SettingColor(const char* key, const QColor& fallback);
