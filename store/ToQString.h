#pragma once
// Display text of 8-bit item text: UTF-8 when the bytes are valid UTF-8, else
// through the chosen code page (Latin-1 until one is chosen).
#include <QByteArray>
#include <QString>
#include <functional>
#include <string>

QString ToQString(const std::string& text);
QString ToQString(const char* text, qsizetype size);
bool IsValidUtf8(const char* text, qsizetype size);
// UTF-8 bytes as text, a leading U+FEFF included: strings from peers, the
// server and files are decoded with this, never with QString::fromUtf8.
QString Utf8Text(const char* text, qsizetype size);

// Decodes text that is not valid UTF-8; the code-page translator installs one.
using FallbackDecoder = std::function<QString(const QByteArray&)>;
void SetFallbackDecoder(FallbackDecoder decoder);
