#pragma once
// The globals the pages and the main window share through the UI kit. The
// main window creates the objects and sets the pointers; the kit defines them.
#include <QPalette>
#include <QString>
#include <string>

class QDialog;
class QDialogButtonBox;
class QFontMetrics;
class QIcon;
class QMainWindow;
class QRect;
class QWidget;
class ActionSetToolBar;
class EventToolBar;
class SizeManager;

// The main window, as a plain QMainWindow: pages reach it without its header.
extern QMainWindow* mainWindow;
extern ActionSetToolBar* actionBar;
extern EventToolBar* eventToolBar;
extern SizeManager* sizeManager;
// Set by the main window's destructor after the final save; from then on the
// tool bars ignore focus changes, destroyed widgets and clicks.
extern bool g_showIsOver;
// Set once the data file has been read (or failed to be).
extern bool g_dataLoaded;
// The application palette before the colour settings were applied.
extern QPalette defaultPalette;

// Registers the kit's compiled-in icons (":/icons/<name>"). The kit is a static
// library, so an executable calls this once before it shows a widget; the tool
// bars call it too.
void InitShellResources();

// One of the program's own icons (a resource path such as ":/icons/room_icon"),
// made once for the run and shared: making an icon looks its file's type up
// and reads the file, and icons made apart each draw their pixmaps anew. Only
// for the fixed set of the program's icons; the GUI thread only.
const QIcon& KitIcon(const QString& path);

// The value text of a saved setting, or empty when the settings are not
// declared yet or the setting has no value.
QString SettingText(const char* key);

// The address of an object as the store writes it (unsigned decimal), taken
// without touching the object: safe for one that is being destroyed.
std::string AddressText(const void* object);

// Text shown as a button or tab label verbatim: "&" is not a mnemonic.
QString PlainLabel(QString text);

// A name or text that came from another user or the server, as it is shown
// on one line: the controls that set the direction of what follows them
// (embeddings, overrides, isolates) and the characters that end a line or a
// paragraph show as U+FFFD, so a name can neither run backwards nor hide its
// real extension on a line nobody sees, and the whole is a first-strong
// isolate, so it cannot reorder the text around it. Text it made already comes
// back as it is. Only for showing: what is stored and sent back stays as it
// came. Menu and button labels take PlainLabel(IsolatedText(name)) (a
// TabWidget doubles the "&" of its tabs itself), rich text
// IsolatedText(text).toHtmlEscaped().
QString IsolatedText(const QString& text);
// The same for a view of several lines (a description, a message): its line
// and paragraph breaks stay.
QString IsolatedLines(const QString& text);

// A name from another user or the server (a user, a file, a folder) as a
// list row shows it: isolated and cut to this many UTF-16 units (TextBound),
// as a name may be far longer and a row lays out the whole of its text.
constexpr int kMaxRowName = 1024;
QString RowName(const QString& name, int maxLength = kMaxRowName);

// Tab labels and tool buttons made from others' text are cut in the middle to
// this many average characters' width; the whole text goes in the tool tip.
constexpr int kMaxLabelChars = 40;
// The label as it fits that width in that font, both ends kept.
QString ElidedLabel(const QString& text, const QFontMetrics& metrics);
// A tool tip showing the text as it is, never as markup, long words breakable.
QString PlainToolTip(const QString& text);

// Where a file or folder chooser opens: the folder of what was chosen before
// (a folder, or a file's folder) while it exists, else the home folder; never
// the folder the program happened to be started from.
QString ChooserStart(const QString& chosen = QString());

// Widgets of the small fixed-layout dialogs: named and placed in one step.
template <class W> W* PlacedWidget(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* widget = new W(parent);
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    return widget;
}
// An OK and Cancel box ending the dialog with accept() and reject().
QDialogButtonBox* PlacedOkCancelBox(QDialog* dialog, const QRect& geometry);
