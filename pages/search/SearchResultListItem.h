#pragma once
// A row of a search results tab, at every level of the tree and in the flat
// list. It exists for its order: free slot, queue length, speed, names, size
// and bitrate, so that one click brings the most promising sources up.
//
// The size and bitrate of a file row are copied into the row's data when the
// row is made (and again when a later reply brings other numbers for the same
// file), so a sort by those columns never goes back to the store. A row also
// keeps the key of the column it was last sorted by, made on its first
// comparison, so that a sort of many rows reads and lower-cases each cell once
// instead of at every comparison.
//
// Names from peers (user, folder, file) are shown direction-isolated and cut
// to kShownName characters (TextBound), so that a name of any length costs no
// more to lay out than a long real one; the row keeps each name as it came
// beside the shown text, and sorting, filtering, downloads and whatever reads a
// name back use that one. A tab's rows share their names
// (SearchResultNames): rows of one name hold one copy of it and of its sort
// key, so two of them compare by an address instead of letter by letter.
#include "shell/RowSlab.h"
#include <QTreeWidgetItem>
#include <array>
#include <unordered_map>

// The columns of a results tree.
enum SearchColumn {
    UserColumn,
    FreeColumn,
    SpeedColumn,
    FolderColumn,
    FileColumn,
    SizeColumn,
    AttributesColumn,
    SearchColumnCount
};

// The names of one tab's rows, each kept once. They are spread over many small
// tables by their hash: a table that grows moves every name it holds, and a
// hundred thousand names moved at once would hold the window.
class SearchResultNames {
public:
    struct Name {
        QString text; // as it came
        QString shown; // isolated
        QString key; // lower-cased, for sorting
    };
    const Name& Get(const QString& text);
    // Forgets up to count names; true once none is left.
    bool Forget(int count);

private:
    struct Key {
        QString text;
        size_t hash;
        bool operator==(const Key& other) const { return hash == other.hash && text == other.text; }
    };
    struct KeyHash {
        size_t operator()(const Key& key) const noexcept { return key.hash; }
    };
    static constexpr size_t kTables = 64;
    std::array<std::unordered_map<Key, Name, KeyHash>, kTables> m_names;
};

class SearchResultListItem : public QTreeWidgetItem, public SlabRows<SearchResultListItem> {
public:
    // The type of these rows: a comparison knows its like without a cast.
    static constexpr int kRowType = QTreeWidgetItem::UserType + 1;

    // The length of a name shown in a cell: a whole path of any real share.
    static constexpr int kShownName = 1024;
    // A name as a cell shows it.
    static QString Shown(const QString& name);

    explicit SearchResultListItem(QTreeWidget* parent);
    explicit SearchResultListItem(QTreeWidgetItem* parent);
    // A row made without a parent, to be inserted later at its place.
    SearchResultListItem();
    ~SearchResultListItem() override;

    // Marks the row as a file row with its size and bitrate.
    void SetFileNumbers(qint64 size, int bitrate);
    // Shows a name from a peer in the column and keeps it as it came.
    void SetName(int column, const QString& name);
    void SetName(int column, const SearchResultNames::Name& name);
    // The name of the column as it came (the cell text where none was set).
    static QString Name(const QTreeWidgetItem& row, int column);

    // Whether this row ranks before the other in ascending order of the column.
    bool LessThan(const QTreeWidgetItem& other, int column) const;
    static bool Less(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column);
    // The same, on the keys the rows keep when both are rows of this type.
    static bool Ranks(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column);
    bool operator<(const QTreeWidgetItem& other) const override;

    // Where a new row belongs among the children of parent (or the top-level
    // rows of tree when parent is null) for the column and order: the index
    // after every row that does not rank after it, so equal rows keep their
    // order of arrival.
    static int SortedPosition(
        QTreeWidget* tree, QTreeWidgetItem* parent, const QTreeWidgetItem* row, int column, Qt::SortOrder order);

private:
    struct SortKey {
        int column = -1;
        bool free = false; // a free slot (Free column)
        bool hasNumbers = false; // a file row (Size and Attributes columns)
        qint64 number = 0; // queue length, size or bitrate
        double speed = 0;
        QString text; // lower-cased name, or the File cell for the Free column
    };
    const SortKey& Key(int column) const { return m_key.column == column ? m_key : MakeKey(column); }
    const SortKey& MakeKey(int column) const;
    static bool KeyLess(const SortKey& a, const SortKey& b, int column);
    mutable SortKey m_key;
};
