#pragma once
// The rows of the room list: column 0 the room name (shown isolated and
// bounded, kept as it came under Qt::UserRole, its font marking the user's
// role in the room), column 1 its number of users (empty for none). Sorted
// by name, the rooms the user owns come first, then those the user operates,
// then member rooms, then the rest, each by name whatever the case; sorted by
// users, by their number. A row goes in, and moves when it changes, to its
// place found by a binary search: a list of any length is never gone through
// but to sort it by another column.
#include <QAbstractTableModel>
#include <memory>
#include <vector>

class RoomListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The user's role in a room, in the order the roles rank in the list.
    enum Rank { kOwner, kOperator, kMember, kNone };
    struct Row {
        QString room; // as it came
        int users = 0;
        Rank rank = kNone;
        bool italic = false;
        bool underline = false;
        bool bold = false;
    };
    // The characters of a name a row shows at most: more than its column
    // shows at any width.
    static constexpr int kShownName = 256;

    explicit RoomListModel(QObject* parent = nullptr);
    ~RoomListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // A new row, put in at its place; it lives as long as the model.
    Row* Add(const QString& room, Rank rank);
    void SetUsers(Row* row, int users);
    // The rank orders the row; the rest is how its name is written.
    void SetRole(Row* row, Rank rank, bool italic, bool underline, bool bold);
    // The row's index in the list.
    int IndexOf(const Row* row) const;
    // The room name of a row of the list, as it came.
    static QString Room(const QModelIndex& index);

private:
    // Whether a comes before b in the list's order, a strict total order
    // (rooms have names of their own).
    bool Before(const Row& a, const Row& b) const;
    // The place of the row among the rows [from, to), those after it
    // excluded.
    int Place(const Row& row, int from, int to) const;
    // Moves the row at the index, changed, to its place.
    void Replace(int at);

    std::vector<std::unique_ptr<Row>> m_rows;
    int m_column = 0;
    Qt::SortOrder m_order = Qt::AscendingOrder;
};
