#include "helper_search.h"
#include "helper_shares.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultListItem.h"
#include "pages/search/SearchResultsForm.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "WidgetFunctions.h"
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace searchtest {

SearchForm* Page()
{
    return searchForm;
}

SearchResultsForm* Search(const QString& query, const QString& target)
{
    SearchForm* page = Page();
    FocusWidget(page->searchEdit());
    const int index = page->searchTargetBox()->findText(target);
    if (index < 0)
        return nullptr;
    page->searchTargetBox()->setCurrentIndex(index);
    page->searchEdit()->lineEdit()->setText(query);
    const int before = page->searchTabControl()->count();
    page->searchButton()->click();
    if (page->searchTabControl()->count() != before + 1)
        return nullptr;
    return qobject_cast<SearchResultsForm*>(page->searchTabControl()->widget(before));
}

namespace {

void AddRows(QTreeWidgetItem* row, int level, QStringList& out)
{
    QStringList cells;
    for (int c = 0; c < 7; ++c)
        cells << SearchResultListItem::Name(*row, c);
    out << QString(level * 2, u' ') + cells.join(u'|') + (row->isHidden() ? QStringLiteral(" (hidden)") : QString());
    for (int i = 0; i < row->childCount(); ++i)
        AddRows(row->child(i), level + 1, out);
}

bool ShownFromTop(QTreeWidgetItem* row)
{
    for (; row; row = row->parent())
        if (row->isHidden())
            return false;
    return true;
}

template <class F> void EachRow(QTreeWidget* tree, F f)
{
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* row) {
        f(row);
        for (int i = 0; i < row->childCount(); ++i)
            walk(row->child(i));
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        walk(tree->topLevelItem(i));
}

} // namespace

QStringList Rows(SearchResultsForm* tab)
{
    QStringList out;
    QTreeWidget* tree = tab->searchResults();
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        AddRows(tree->topLevelItem(i), 0, out);
    return out;
}

QStringList VisibleFiles(SearchResultsForm* tab)
{
    QStringList out;
    EachRow(tab->searchResults(), [&](QTreeWidgetItem* row) {
        if (SearchResultsForm::FileNode(row) && ShownFromTop(row))
            out << SearchResultListItem::Name(*row, FileColumn);
    });
    out.sort();
    return out;
}

QTreeWidgetItem* FindRow(SearchResultsForm* tab, const QString& text)
{
    QTreeWidgetItem* found = nullptr;
    EachRow(tab->searchResults(), [&](QTreeWidgetItem* row) {
        if (!found
            && (SearchResultListItem::Name(*row, FileColumn) == text
                || SearchResultListItem::Name(*row, FolderColumn) == text
                || SearchResultListItem::Name(*row, UserColumn) == text))
            found = row;
    });
    return found;
}

int FileRowCount(SearchResultsForm* tab)
{
    int n = 0;
    EachRow(tab->searchResults(), [&](QTreeWidgetItem* row) { n += SearchResultsForm::FileNode(row) ? 1 : 0; });
    return n;
}

bool WaitForFiles(SearchResultsForm* tab, int n, int ms)
{
    QPointer<SearchResultsForm> guard(tab);
    return gui::WaitFor([&] { return guard && FileRowCount(guard) >= n; }, ms);
}

bool MakeMp3(const QString& path, int bitrate, bool vbr, double seconds)
{
    QDir().mkpath(QFileInfo(path).path());
    const QString wav = path + QStringLiteral(".wav");
    WriteSineWav(wav, 44100, 2, seconds);
    QStringList args;
    if (vbr)
        args << QStringLiteral("-V") << QStringLiteral("2");
    else
        args << QStringLiteral("--cbr") << QStringLiteral("-b") << QString::number(bitrate);
    const bool ok = RunLame(args << wav << path);
    QFile::remove(wav);
    return ok;
}

void Trigger(QWidget* widget, const QString& key)
{
    emit actionBar->ActionTriggered(widget, key);
}

QString ActionText(QWidget* widget, const QString& key, bool* visible)
{
    if (auto* tab = qobject_cast<SearchResultsForm*>(widget))
        widget = tab->searchResults();
    FocusWidget(widget);
    QCoreApplication::processEvents();
    QAction* action = actionBar->FindAction(key);
    if (visible)
        *visible = action && action->isVisible();
    return action ? action->text() : QString();
}

QStringList EventButtons()
{
    QStringList out;
    for (QAction* action : eventToolBar->actions())
        if (!action->text().isEmpty() && action->isVisible())
            out << action->text();
    return out;
}

QByteArray ReadWholeFileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Shot(const QString& name, QWidget* widget)
{
    const QString folder = qEnvironmentVariable("MARROWBY_SHOTS");
    if (folder.isEmpty())
        return;
    QWidget* window = widget ? widget->window() : Page()->window();
    QTest::qWait(300);
    window->grab().save(folder + u'/' + name + QStringLiteral(".png"));
}

size_t Count(const char* type)
{
    Type* t = d.HasType(type);
    return t ? t->Count() : 0;
}

} // namespace searchtest
