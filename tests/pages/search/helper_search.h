#pragma once
// Shared steps of the Search page tests: the page of the session's window,
// searching from the search box, reading a results tab as a user sees it, and
// real MP3 files for the drivers to share.
#include "gui/GuiTest.h"
#include "store/ItemPtr.h"
#include <QString>
#include <QStringList>

class SearchForm;
class SearchResultsForm;
class QTreeWidgetItem;

namespace searchtest {

SearchForm* Page();
// Types the query into the search box, picks the target and presses Search;
// the new tab (the current one of the manual tab control), or null.
SearchResultsForm* Search(const QString& query, const QString& target = QStringLiteral("All"));
// The tab's rows depth-first, one line each: indentation by level, then the
// seven cells (names as they came) joined by "|", and " (hidden)" for a
// hidden row.
QStringList Rows(SearchResultsForm* tab);
// The file names of the file rows that a user sees (no hidden row above them).
QStringList VisibleFiles(SearchResultsForm* tab);
// The first row whose file, folder or user name is the text.
QTreeWidgetItem* FindRow(SearchResultsForm* tab, const QString& text);
// Waits until the tab has at least n file rows.
bool WaitForFiles(SearchResultsForm* tab, int n, int ms = 20000);
int FileRowCount(SearchResultsForm* tab);
// A real MP3 made by lame: constant bitrate, or variable when vbr is set.
bool MakeMp3(const QString& path, int bitrate, bool vbr = false, double seconds = 1.0);
// Presses a tool-bar action for the widget, as a click on the bar reports it.
void Trigger(QWidget* widget, const QString& key);
// The text and visibility the bar shows for an action while the widget has
// the focus.
QString ActionText(QWidget* widget, const QString& key, bool* visible = nullptr);
// The texts of the event tool bar's buttons.
QStringList EventButtons();
// Saves a picture of the widget's window as <name>.png in the folder that
// MARROWBY_SHOTS names, when it is set (for looking at the page by eye).
void Shot(const QString& name, QWidget* widget = nullptr);
// The bytes of a file (empty when it can't be read).
QByteArray ReadWholeFileBytes(const QString& path);
// Items of a type in the store.
size_t Count(const char* type);

} // namespace searchtest
