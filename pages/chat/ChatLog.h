#pragma once
// Chat-log files: one UTF-8 text file per room or per private partner under
// "<home>/Marrowby Chat Logs/Rooms/" and ".../Users/", one line per chat line.
//
// Room and user names are chosen by other people, so a name never becomes a
// path as it is: FileName() makes it one safe file-name component, one name to
// one file (ordinary names stay unchanged, so existing logs still match), and
// FilePath() checks that the result stays inside its folder. Writing, opening
// and clearing a log all go through FilePath().
#include "store/ItemPtr.h"
#include <QDateTime>
#include <QString>

namespace ChatLog {

enum Kind { Rooms, Users };

// The folder of one kind of log (no trailing separator).
QString Folder(Kind kind);
// The name as one safe file-name component plus ".log"; two different names
// never get the same one. "/", "\", NUL and control characters and a leading
// "." become "%XX" escapes, and then "%" too; so does "%" in a name that
// holds something reading as an escape ("a%2Fb"). Other names are unchanged.
// The empty name and names too long for a file name get names no other name
// can have (a long one: its start and a hash of the whole name).
QString FileName(const QString& name);
// The log file of a room or user, or empty when it would not lie directly in
// its folder.
QString FilePath(Kind kind, const QString& name);

// Whether the path names a file directly inside one of the two log folders.
bool IsLogFile(const QString& path);

// A chat line as one line of a log file: line breaks and other control
// characters become blanks.
QString OneLine(const QString& text);
// "MMM d h:mm:ss ap", the pattern of every logged line and of status lines.
QString LongTime(const QDateTime& time);
// "[time][user] text" and "[time] * status", filled in one pass.
QString ChatLine(const QString& user, const QString& text);
QString ActionLine(const QString& status);

// Appends the line to the log of a room or user when the setting names "yes",
// creating the folder and file as needed (a file that cannot be opened is
// skipped silently); then, in either case, hands the line to the owner's open
// chat-log viewer. Does nothing at all when logging is off.
void Write(Kind kind, const QString& name, ItemPtr owner, const char* setting, const QString& line);

} // namespace ChatLog
