#pragma once
// Shared pieces of the whole-client tests: hostile texts, the checks that no
// peer text was rendered as markup, and the files a run may write.
#include <QSet>
#include <QString>
#include <QStringList>

class QWidget;

namespace whole {

// A word every hostile text carries, so its rendering can be found again.
inline const QString kMark = QStringLiteral("HOSTILEMARK");
// Texts and names with markup, "&", "%1", path separators and control
// characters, each carrying kMark; names have no spaces (driver commands
// split on them).
QStringList HostileTexts();
QString HostileName(int i);

// Every label, text view and tab label of the application that shows kMark
// and lost the tags around it (markup where plain text was meant); empty when
// none did.
QStringList MarkupFaults();

// Every file under the folder, as paths relative to it.
QSet<QString> FilesUnder(const QString& folder);
// The files under home that are new since before and lie outside the
// folders the client may write to (downloads, chat logs, the data file and
// Qt's own caches).
QStringList StrayFiles(const QString& home, const QSet<QString>& before);

} // namespace whole
