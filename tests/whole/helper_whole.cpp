#include "helper_whole.h"
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QTabBar>
#include <QTextDocument>
#include <QTextEdit>

namespace whole {

QStringList HostileTexts()
{
    return {
        QStringLiteral("<b>%1</b> & %1 <img src=\"x.png\"> <a href=\"http://x\">link</a>").arg(kMark),
        QStringLiteral("<i>%1</i> ../../escape-whole/..\\..\\x %2").arg(kMark, QStringLiteral("%1 %2")),
        QStringLiteral("<u>%1</u>\x01\x07\ttab &amp; <table><tr><td>cell").arg(kMark),
    };
}

QString HostileName(int i)
{
    static const QStringList names = {
        QStringLiteral("<b>%1</b>&%1/x").arg(kMark),
        QStringLiteral("<i>%1</i>..\\..\\y%1").arg(kMark),
    };
    return names.at(i % names.size());
}

namespace {

// Rich text that shows kMark lost the tags written around it.
bool LostTags(const QString& shown)
{
    if (!shown.contains(kMark))
        return false;
    return !shown.contains(QStringLiteral(">%1</").arg(kMark));
}

} // namespace

QStringList MarkupFaults()
{
    QStringList faults;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        for (QLabel* label : top->findChildren<QLabel*>()) {
            const QString text = label->text();
            if (!text.contains(kMark))
                continue;
            const bool rich = label->textFormat() == Qt::RichText
                || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
            // A label may escape the text itself and show it as rich text.
            if (rich) {
                QTextDocument doc;
                doc.setHtml(text);
                if (LostTags(doc.toPlainText()))
                    faults << QStringLiteral("label %1: %2").arg(label->objectName(), text.left(120));
            }
            if (!label->toolTip().isEmpty() && Qt::mightBeRichText(label->toolTip())) {
                QTextDocument doc;
                doc.setHtml(label->toolTip());
                if (LostTags(doc.toPlainText()))
                    faults << QStringLiteral("tooltip %1: %2").arg(label->objectName(), label->toolTip().left(120));
            }
        }
        for (QTextEdit* view : top->findChildren<QTextEdit*>()) {
            // A user's own description is meant as rich text.
            bool description = false;
            for (QWidget* w = view; w && !description; w = w->parentWidget())
                description = w->inherits("UserInfoForm");
            if (!description && LostTags(view->toPlainText()))
                faults << QStringLiteral("text view %1 (%2)").arg(view->objectName(),
                    QString::fromLatin1(view->parentWidget() ? view->parentWidget()->metaObject()->className() : ""));
        }
        for (QTabBar* bar : top->findChildren<QTabBar*>()) {
            for (int i = 0; i < bar->count(); ++i) {
                const QString text = bar->tabText(i);
                // A lone "&" in a tab label is a shortcut marker and vanishes.
                if (text.contains(kMark) && text.contains(u'&') && !text.contains(QStringLiteral("&&")))
                    faults << QStringLiteral("tab label: %1").arg(text.left(120));
            }
        }
    }
    return faults;
}

QSet<QString> FilesUnder(const QString& folder)
{
    QSet<QString> files;
    QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        files.insert(root.relativeFilePath(it.next()));
    return files;
}

QStringList StrayFiles(const QString& home, const QSet<QString>& before)
{
    static const QStringList allowed = {
        QStringLiteral("Marrowby Downloads/"),
        QStringLiteral("Marrowby Chat Logs/"),
        QStringLiteral(".Marrowby"),
        QStringLiteral(".cache/"),
        QStringLiteral(".config/"),
        QStringLiteral(".local/"),
    };
    QStringList stray;
    const QSet<QString> now = FilesUnder(home);
    for (const QString& file : now) {
        if (before.contains(file))
            continue;
        bool ok = false;
        for (const QString& prefix : allowed)
            ok = ok || file.startsWith(prefix);
        if (!ok)
            stray << file;
    }
    // Nothing next to the home folder either.
    QDir parent(home);
    parent.cdUp();
    for (const QString& name : parent.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        if (name.contains(QStringLiteral("escape-whole")) || name.contains(kMark))
            stray << QStringLiteral("../") + name;
    return stray;
}

} // namespace whole
