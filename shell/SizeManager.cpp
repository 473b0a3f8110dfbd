#include "SizeManager.h"
#include "ColumnFitter.h"
#include "DataSaver.h"
#include "ResizableWindow.h"
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <utility>

SizeManager::SizeManager(QObject* parent)
    : QObject(parent)
{
    sizeManager = this;
    Type* window = d.DeclareType("sizer_window", kEntity);
    Type* windowWidget = d.DeclareType("sizer_window_widget", kEntity);
    Type* x = d.DeclareType("sizer_x", kAttribute);
    Type* y = d.DeclareType("sizer_y", kAttribute);
    Type* width = d.DeclareType("sizer_width", kAttribute);
    Type* height = d.DeclareType("sizer_height", kAttribute);
    Type* size = d.DeclareType("sizer_size", kAttribute);
    Type* tree = d.DeclareType("sizer_tree", kEntity);
    Type* treeWidget = d.DeclareType("sizer_tree_widget", kEntity);
    Type* columnNumber = d.DeclareType("sizer_tree_column_number", kAttribute);
    Type* column = d.DeclareType("sizer_tree_column", kLink, true);
    Type* splitter = d.DeclareType("sizer_splitter", kEntity);
    Type* splitterWidget = d.DeclareType("sizer_splitter_widget", kEntity);
    Type* indexNumber = d.DeclareType("sizer_splitter_index_number", kAttribute);
    Type* index = d.DeclareType("sizer_splitter_index", kLink, true);

    d.RelateTypes(window, windowWidget, One, One);
    d.RelateTypes(window, x, Many, One);
    d.RelateTypes(window, y, Many, One);
    d.RelateTypes(window, width, Many, One);
    d.RelateTypes(window, height, Many, One);
    d.RelateTypes(tree, treeWidget, One, Many);
    d.RelateTypes(column, tree, Many, One);
    d.RelateTypes(column, columnNumber, Many, One);
    d.RelateTypes(column, size, Many, One);
    d.RelateTypes(splitter, splitterWidget, One, Many);
    d.RelateTypes(index, splitter, Many, One);
    d.RelateTypes(index, indexNumber, Many, One);
    d.RelateTypes(index, size, Many, One);

    if (dataSaver) {
        for (const char* saved : { "sizer_window", "sizer_tree", "sizer_tree_column_number", "sizer_tree_column",
                 "sizer_splitter", "sizer_splitter_index_number", "sizer_splitter_index", "sizer_x", "sizer_y",
                 "sizer_width", "sizer_height", "sizer_size" })
            dataSaver->AddSavedType(saved);
    }
}

SizeManager::~SizeManager()
{
    if (sizeManager == this)
        sizeManager = nullptr;
}

void SizeManager::ReplaceValue(ItemPtr record, const char* type, int value)
{
    const std::string text = std::to_string(value);
    ItemPtr old = record[type];
    if (old && old.Text() == text)
        return;
    record += d.GetType(type)->GetItem(Value(text));
    if (old && old.IsDisconnectedFromAll())
        old.Remove();
}

ItemPtr SizeManager::Record(ItemPtr name, const char* recordType, const char* numberType, int number, bool create)
{
    ItemPtr numberItem = create ? d.GetType(numberType)->GetItem(Value(number)) : d.GetType(numberType)->HasItem(Value(number));
    ItemPtr record = d.GetItem(name, numberItem, recordType);
    if (!record && create) {
        record = d.GetType(recordType)->NewItem();
        record += name;
        record += numberItem;
    }
    return record;
}

// The records of a name in ascending number, with their stored sizes.
static QList<QPair<int, int>> StoredSizes(ItemPtr name, const char* recordType, const char* numberType)
{
    QList<QPair<int, int>> sizes;
    for (ItemPtr record : name.GetItems(recordType).ToList())
        sizes.append({ record[numberType].AsInt(), record["sizer_size"].AsInt() });
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

QRect SizeManager::ClampToScreens(const QRect& rect)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return rect;
    QRect area;
    qint64 best = 0;
    for (QScreen* screen : screens) {
        const QRect overlap = screen->availableGeometry().intersected(rect);
        const qint64 size = qint64(overlap.width()) * overlap.height();
        if (size > best) {
            best = size;
            area = screen->availableGeometry();
        }
    }
    if (area.isEmpty())
        area = QGuiApplication::primaryScreen()->availableGeometry();
    QRect r(rect.topLeft(), rect.size().boundedTo(area.size()));
    r.moveLeft(std::clamp(r.left(), area.left(), area.right() - r.width() + 1));
    r.moveTop(std::clamp(r.top(), area.top(), area.bottom() - r.height() + 1));
    return r;
}

void SizeManager::RegisterResizableWindow(QString name, ResizableWindow* window)
{
    if (!window)
        return;
    Type* windows = d.GetType("sizer_window");
    ItemPtr nameItem = windows->HasItem(Value(name));
    if (!nameItem) {
        nameItem = windows->GetItem(Value(name));
        ReplaceValue(nameItem, "sizer_x", window->GetX());
        ReplaceValue(nameItem, "sizer_y", window->GetY());
        ReplaceValue(nameItem, "sizer_width", window->GetWidth());
        ReplaceValue(nameItem, "sizer_height", window->GetHeight());
    } else {
        const QRect stored(nameItem["sizer_x"].AsInt(), nameItem["sizer_y"].AsInt(), nameItem["sizer_width"].AsInt(),
            nameItem["sizer_height"].AsInt());
        // A size that is not positive is no geometry at all: the window keeps
        // the one its owner gave it.
        if (stored.width() > 0 && stored.height() > 0) {
            const QRect r = ClampToScreens(stored);
            window->SetPosition(r.x(), r.y());
            window->SetSize(r.width(), r.height());
        }
    }
    nameItem += d.GetType("sizer_window_widget")->GetItem(AddressText(window));
    connect(window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved, Qt::UniqueConnection);
    connect(window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized, Qt::UniqueConnection);
}

ItemPtr SizeManager::WindowItem(QObject* sender) const
{
    return d.GetType("sizer_window_widget")->HasItem(AddressText(sender))["sizer_window"];
}

void SizeManager::OnWindowMoved(int i_x, int i_y)
{
    ItemPtr nameItem = WindowItem(sender());
    if (!nameItem)
        return;
    ReplaceValue(nameItem, "sizer_x", i_x);
    ReplaceValue(nameItem, "sizer_y", i_y);
}

void SizeManager::OnWindowResized(int i_width, int i_height)
{
    ItemPtr nameItem = WindowItem(sender());
    if (!nameItem)
        return;
    ReplaceValue(nameItem, "sizer_width", i_width);
    ReplaceValue(nameItem, "sizer_height", i_height);
}

namespace {

QHeaderView* Columns(QAbstractItemView* list)
{
    if (auto* table = qobject_cast<QTableView*>(list))
        return table->horizontalHeader();
    return static_cast<QTreeView*>(list)->header();
}

} // namespace

int SizeManager::RecordedColumnCount(QAbstractItemView* tree) const
{
    QHeaderView* header = Columns(tree);
    const int count = header->count();
    return header->stretchLastSection() ? std::max(0, count - 1) : count;
}

int SizeManager::OwnWidth(QAbstractItemView* tree, int column)
{
    // Room a fitter lent the column for this run is not kept.
    return Columns(tree)->sectionSize(column) - ColumnFitter::Given(qobject_cast<QTreeView*>(tree), column);
}

void SizeManager::RecordColumns(ItemPtr name, QAbstractItemView* tree)
{
    for (int column = 0; column < RecordedColumnCount(tree); ++column) {
        ItemPtr record = Record(name, "sizer_tree_column", "sizer_tree_column_number", column, true);
        ReplaceValue(record, "sizer_size", OwnWidth(tree, column));
    }
}

void SizeManager::RegisterTreeWidget(QString name, QAbstractItemView* tree)
{
    if (!tree)
        return;
    Type* trees = d.GetType("sizer_tree");
    ItemPtr nameItem = trees->HasItem(Value(name));
    if (!nameItem) {
        nameItem = trees->GetItem(Value(name));
        RecordColumns(nameItem, tree);
    } else {
        QHeaderView* header = Columns(tree);
        for (const auto& [column, size] : StoredSizes(nameItem, "sizer_tree_column", "sizer_tree_column_number")) {
            if (column >= 0 && column < header->count())
                header->resizeSection(column, size);
        }
    }
    const std::string address = AddressText(tree);
    nameItem += d.GetType("sizer_tree_widget")->GetItem(address);
    m_widgets.insert(QString::fromStdString(address), tree);
    connect(Columns(tree), &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved,
        Qt::UniqueConnection);
    connect(tree, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed, Qt::UniqueConnection);
}

void SizeManager::Unrecorded(const std::function<void()>& change)
{
    const bool was = std::exchange(m_propagating, true);
    change();
    m_propagating = was;
}

void SizeManager::OnTreeColumnResizedMoved(int, int, int)
{
    if (m_propagating)
        return;
    auto* header = qobject_cast<QHeaderView*>(sender());
    auto* tree = header ? qobject_cast<QAbstractItemView*>(header->parent()) : nullptr;
    if (!tree)
        return;
    ItemPtr widgetItem = d.GetType("sizer_tree_widget")->HasItem(AddressText(tree));
    ItemPtr nameItem = widgetItem["sizer_tree"];
    if (!nameItem)
        return;
    m_propagating = true;
    QList<QAbstractItemView*> others;
    for (ItemPtr other : nameItem.GetItems("sizer_tree_widget").ToList()) {
        auto* w = qobject_cast<QAbstractItemView*>(m_widgets.value(other.AsString()));
        if (w && w != tree)
            others.append(w);
    }
    for (int column = 0; column < RecordedColumnCount(tree); ++column) {
        const int width = OwnWidth(tree, column);
        ReplaceValue(Record(nameItem, "sizer_tree_column", "sizer_tree_column_number", column, true), "sizer_size", width);
        for (QAbstractItemView* other : others) {
            if (column < Columns(other)->count())
                Columns(other)->resizeSection(column, width);
        }
    }
    m_propagating = false;
}

void SizeManager::OnTreeDestroyed(QObject* ip_tree)
{
    const std::string address = AddressText(ip_tree);
    d.GetType("sizer_tree_widget")->HasItem(address).Remove();
    m_widgets.remove(QString::fromStdString(address));
}

void SizeManager::RegisterSplitter(QString name, QSplitter* splitter, QList<int> defaultSizes)
{
    if (!splitter)
        return;
    Type* splitters = d.GetType("sizer_splitter");
    ItemPtr nameItem = splitters->HasItem(Value(name));
    if (!nameItem) {
        nameItem = splitters->GetItem(Value(name));
        const QList<int> sizes = defaultSizes.isEmpty() ? splitter->sizes() : defaultSizes;
        for (int pane = 0; pane < sizes.size(); ++pane) {
            ItemPtr record = Record(nameItem, "sizer_splitter_index", "sizer_splitter_index_number", pane, true);
            ReplaceValue(record, "sizer_size", sizes[pane]);
        }
    } else {
        QList<int> sizes;
        for (const auto& stored : StoredSizes(nameItem, "sizer_splitter_index", "sizer_splitter_index_number"))
            sizes.append(stored.second);
        splitter->setSizes(sizes);
    }
    const std::string address = AddressText(splitter);
    nameItem += d.GetType("sizer_splitter_widget")->GetItem(address);
    m_widgets.insert(QString::fromStdString(address), splitter);
    connect(splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved, Qt::UniqueConnection);
    connect(splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed, Qt::UniqueConnection);
}

void SizeManager::OnSplitterMoved(int, int)
{
    if (m_propagating)
        return;
    auto* splitter = qobject_cast<QSplitter*>(sender());
    if (!splitter)
        return;
    ItemPtr nameItem = d.GetType("sizer_splitter_widget")->HasItem(AddressText(splitter))["sizer_splitter"];
    if (!nameItem)
        return;
    const QList<int> sizes = splitter->sizes();
    for (int pane = 0; pane < sizes.size(); ++pane) {
        ItemPtr record = Record(nameItem, "sizer_splitter_index", "sizer_splitter_index_number", pane, true);
        ReplaceValue(record, "sizer_size", sizes[pane]);
    }
    m_propagating = true;
    for (ItemPtr other : nameItem.GetItems("sizer_splitter_widget").ToList()) {
        auto* w = qobject_cast<QSplitter*>(m_widgets.value(other.AsString()));
        if (w && w != splitter)
            w->setSizes(sizes);
    }
    m_propagating = false;
}

void SizeManager::OnSplitterDestroyed(QObject* ip_splitter)
{
    const std::string address = AddressText(ip_splitter);
    d.GetType("sizer_splitter_widget")->HasItem(address).Remove();
    m_widgets.remove(QString::fromStdString(address));
}

void SizeManager::ForgetTreeWidget(QString name)
{
    d.GetType("sizer_tree")->HasItem(Value(name)).Remove();
}
