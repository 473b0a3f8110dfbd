#include "RoomListModel.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include <QFont>
#include <algorithm>

RoomListModel::RoomListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

RoomListModel::~RoomListModel() = default;

int RoomListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RoomListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant RoomListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const Row& row = *m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == 0)
            return IsolatedText(TextBound::Shown(row.room, kShownName));
        return row.users != 0 ? QString::number(row.users) : QString();
    case Qt::UserRole:
        return row.room;
    case Qt::FontRole: {
        if (index.column() != 0 || !(row.italic || row.underline || row.bold))
            return {};
        QFont font;
        font.setItalic(row.italic);
        font.setUnderline(row.underline);
        font.setBold(row.bold);
        return font;
    }
    default:
        return {};
    }
}

QVariant RoomListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section == 0 ? QStringLiteral("Room Name") : QStringLiteral("Users");
}

bool RoomListModel::Before(const Row& a, const Row& b) const
{
    const auto ascending = [this](const Row& x, const Row& y) {
        if (m_column == 1 && x.users != y.users)
            return x.users < y.users;
        if (x.rank != y.rank)
            return x.rank < y.rank;
        if (const int c = x.room.compare(y.room, Qt::CaseInsensitive); c != 0)
            return c < 0;
        return x.room < y.room;
    };
    return m_order == Qt::AscendingOrder ? ascending(a, b) : ascending(b, a);
}

int RoomListModel::Place(const Row& row, int from, int to) const
{
    const auto first = m_rows.begin();
    return int(std::upper_bound(first + from, first + to, row,
                   [this](const Row& r, const std::unique_ptr<Row>& other) { return Before(r, *other); })
        - first);
}

int RoomListModel::IndexOf(const Row* row) const
{
    const auto first = m_rows.begin();
    const auto at = std::lower_bound(first, m_rows.end(), *row,
        [this](const std::unique_ptr<Row>& other, const Row& r) { return Before(*other, r); });
    return at != m_rows.end() && at->get() == row ? int(at - first) : -1;
}

QString RoomListModel::Room(const QModelIndex& index)
{
    return index.data(Qt::UserRole).toString();
}

RoomListModel::Row* RoomListModel::Add(const QString& room, Rank rank)
{
    auto row = std::make_unique<Row>();
    row->room = room;
    row->rank = rank;
    const int at = Place(*row, 0, int(m_rows.size()));
    beginInsertRows(QModelIndex(), at, at);
    Row* added = m_rows.insert(m_rows.begin() + at, std::move(row))->get();
    endInsertRows();
    return added;
}

void RoomListModel::SetUsers(Row* row, int users)
{
    const int at = row->users != users ? IndexOf(row) : -1;
    if (at < 0)
        return;
    row->users = users;
    emit dataChanged(index(at, 1), index(at, 1));
    if (m_column == 1)
        Replace(at);
}

void RoomListModel::SetRole(Row* row, Rank rank, bool italic, bool underline, bool bold)
{
    const int at = IndexOf(row);
    if (at < 0)
        return;
    row->rank = rank;
    row->italic = italic;
    row->underline = underline;
    row->bold = bold;
    emit dataChanged(index(at, 0), index(at, 0));
    Replace(at);
}

void RoomListModel::Replace(int at)
{
    // The other rows are in order: the row goes after every row that does
    // not rank after it, on the side it left its place to.
    const Row& row = *m_rows[at];
    const int count = int(m_rows.size());
    int to = at;
    if (at > 0 && Before(row, *m_rows[at - 1]))
        to = Place(row, 0, at);
    else if (at + 1 < count && Before(*m_rows[at + 1], row))
        to = Place(row, at + 1, count);
    if (to == at)
        return;
    // Persistent indexes, the view's selection and current row among them,
    // follow the row.
    beginMoveRows(QModelIndex(), at, at, QModelIndex(), to);
    const auto first = m_rows.begin();
    if (to < at)
        std::rotate(first + to, first + at, first + at + 1);
    else
        std::rotate(first + at, first + at + 1, first + to);
    endMoveRows();
}

void RoomListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column > 1 || (column == m_column && order == m_order))
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<const Row*> held;
    held.reserve(before.size());
    for (const QModelIndex& index : before)
        held.push_back(m_rows[index.row()].get());
    m_column = column;
    m_order = order;
    std::sort(m_rows.begin(), m_rows.end(),
        [this](const std::unique_ptr<Row>& a, const std::unique_ptr<Row>& b) { return Before(*a, *b); });
    QModelIndexList after;
    after.reserve(before.size());
    for (int i = 0; i < before.size(); ++i)
        after.append(index(IndexOf(held[i]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
