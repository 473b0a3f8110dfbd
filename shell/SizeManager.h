#pragma once
// Remembers, across runs, the geometry of windows, the widths of tree columns
// and the sizes of splitter panes, as saved items of the store. A widget is
// registered under a name: registration restores what is stored under it (or
// records the present layout when nothing is), then records every change.
// Trees or splitters registered under one name share one layout, and a change
// in one is applied to the others at once.
//
// A stored window geometry is used only when it is sound: a size that is not
// positive is ignored, and a window that would open off every screen (a
// monitor that is gone) is moved and, if needed, shrunk onto one.
#include "Data.h"
#include "Kit.h"
#include <QHash>
#include <QList>
#include <QPointer>
#include <QObject>
#include <QRect>
#include <functional>

class QSplitter;
class QAbstractItemView;
class QWidget;
class ResizableWindow;

class SizeManager : public QObject {
    Q_OBJECT
public:
    explicit SizeManager(QObject* parent = nullptr);
    ~SizeManager() override;

    void RegisterResizableWindow(QString name, ResizableWindow* window);
    // A tree or a table: its columns' widths.
    void RegisterTreeWidget(QString name, QAbstractItemView* tree);
    void RegisterSplitter(QString name, QSplitter* splitter, QList<int> defaultSizes = QList<int>());
    void ForgetTreeWidget(QString name);
    // Makes the change without recording it: a layout for this run only.
    void Unrecorded(const std::function<void()>& change);

    // The rectangle moved (and shrunk when it must be) so that it lies on the
    // available area of a screen: the one it overlaps most, else the primary.
    static QRect ClampToScreens(const QRect& rect);

public slots:
    void OnWindowMoved(int i_x, int i_y);
    void OnWindowResized(int i_width, int i_height);
    void OnSplitterMoved(int i_position, int i_index);
    void OnSplitterDestroyed(QObject* ip_splitter);
    void OnTreeColumnResizedMoved(int i_index, int i_newSize, int i_oldSize);
    void OnTreeDestroyed(QObject* ip_tree);

private:
    // Connects the record to the value item of the new value and drops the
    // old value item once nothing uses it.
    void ReplaceValue(ItemPtr record, const char* type, int value);
    ItemPtr WindowItem(QObject* sender) const;
    // The record connected to the name's item and to the number's item.
    ItemPtr Record(ItemPtr name, const char* recordType, const char* numberType, int number, bool create);
    int RecordedColumnCount(QAbstractItemView* tree) const;
    void RecordColumns(ItemPtr name, QAbstractItemView* tree);
    static int OwnWidth(QAbstractItemView* tree, int column);

    bool m_propagating = false;
    // The registered trees and splitters by address: the store holds only
    // addresses, which are never turned back into pointers.
    QHash<QString, QPointer<QWidget>> m_widgets;
};
