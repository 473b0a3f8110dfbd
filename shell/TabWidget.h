#pragma once
// A tab widget whose tabs turn blue when something happens on a page that is
// not shown, and which gives the normal colour back when a tab is selected,
// and the keyboard focus too while the tab's page is on screen (a tab made
// current on a page the user does not see takes nothing from the page shown).
//
// Only a tab the user chose takes the keyboard. One that becomes current
// because another tab closed or a first one arrived (a room the server took
// away, a stranger's message) was chosen by nobody: the typing stays where it
// was, and when it was on the page that went it rests on the tab bar, never in
// another conversation's input. When no tab is left, the keyboard goes where
// it goes as the page holding the tabs opens (its widget marked for the
// focus, else the tab bar of the pages), and the empty tab bar, which nobody
// sees, takes no focus.
//
// Tab labels are shown verbatim: an "&" in a label (a user or room name) is
// doubled on insertion and is never a mnemonic. A label wider than a bounded
// width is cut in the middle and shown whole in the tab's tool tip.
#include <QTabWidget>

class TabWidget : public QTabWidget {
    Q_OBJECT
public:
    explicit TabWidget(QWidget* parent = nullptr);

    // Marks the tab of every enclosing TabWidget that holds the widget and is
    // not current; a widget outside every TabWidget is ignored.
    static void MarkTabActivity(QWidget* widget);

    // Adds a tab whose label comes from others' text (a user or room name):
    // the tab bar measures a label as it goes in, so it goes in bounded.
    int AddNamedTab(QWidget* page, const QIcon& icon, const QString& label);

public slots:
    void OnTabChanged(int i_tab);

protected:
    void tabInserted(int index) override;
    void tabRemoved(int index) override;

private:
    bool FocusWentWithItsPage() const;
    void FocusEnclosingPage();

    // The number of tabs after the last insertion or removal: the current tab
    // changes while the count differs only because a tab arrived or went.
    int m_tabCount = 0;
};

// The tab control of the private chats; a TabWidget with nothing of its own.
class RoomTabWidget : public TabWidget {
    Q_OBJECT
public:
    explicit RoomTabWidget(QWidget* parent = nullptr);
};
