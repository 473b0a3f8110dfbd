#pragma once
// Small helpers on paths, numbers and text shared by every subsystem. Paths
// stored in items use "\" as the separator; these helpers accept "/" too.
#include <QString>
#include <QtGlobal>
#include <string>
#include <string_view>

class QRegularExpression;

// The last component of a path (one trailing separator dropped first); the
// whole text when there is no separator; empty for an empty path.
std::string GetFileName(std::string_view path);
// Everything before the last separator (one trailing separator dropped first);
// the whole text when there is no separator; empty for an empty path.
std::string GetFolder(const std::string& path);
// The folder above a path: every trailing "\" is dropped, then GetFolder of the
// rest; a path without any separator comes back unchanged.
std::string GetParentFolder(const std::string& path);
// The path lower-cased, with one trailing separator removed.
QString GetAbsoluteFileName(const QString& path);
// The text after the last "." with ASCII letters lower-cased; empty without ".".
std::string GetFileExtension(const std::string& path);
// Every occurrence of from replaced by to, left to right, resuming after each
// inserted text (so to may contain from). An empty from changes nothing.
std::string StringReplace(std::string subject, const std::string& from, const std::string& to);
// Bit n of the value, counted from 1 at the least significant bit; false for an
// n outside 1..32.
bool GetBit(unsigned int value, int n);

// Decimal text with "," between groups of three digits: -1234567 -> "-1,234,567".
QString CommafyNumber(qint64 n);
// A duration as "5s", "1m:0s", "1h:2m:5s" (hours are not reduced modulo 24).
// A negative duration reads as 0s.
QString FormatSeconds(long seconds);
// The folder's components (separated by "\" or "/", empty ones dropped) in
// reverse order, joined by "/": music\rock\album -> album/rock/music.
QString ReversePathname(const QString& path);

// "&", "<" and ">" as HTML entities ("&" first); quotes are left alone.
QString EscapeHTML(const QString& text);
// Every http or https address made an anchor whose target and text are the address.
QString ConvertLinks(const QString& text);
// The http and https addresses ConvertLinks finds.
const QRegularExpression& WebAddresses();
