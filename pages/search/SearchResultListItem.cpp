#include "SearchResultListItem.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include <QHash>

namespace {

constexpr int kFileNumbersRole = Qt::UserRole + 1; // "yes" on file rows
constexpr int kSizeRole = Qt::UserRole + 2;
constexpr int kBitrateRole = Qt::UserRole + 3;
constexpr int kNameRole = Qt::UserRole + 4; // the name as it came
constexpr int kNameKeyRole = Qt::UserRole + 5; // the name lower-cased

// The rank of a Free cell in ascending order: a free slot ranks last, then
// shorter queues. Cells that read as the same queue rank the same, whatever
// their text, so the order stays a strict weak order.
struct FreeKey {
    bool free;
    qint64 queue;
};

FreeKey ReadFree(const QTreeWidgetItem& row)
{
    const QString text = row.text(FreeColumn);
    if (text == QLatin1String("Y"))
        return { true, 0 };
    return { false, text.isEmpty() ? 0 : text.toLongLong() };
}

// The speed a row shows; folder and file rows of the tree show none, and
// reading a number costs more than the rest of a row's key.
double ReadSpeed(const QTreeWidgetItem& row)
{
    const QString text = row.text(SpeedColumn);
    return text.isEmpty() ? 0 : text.toDouble();
}

// Names shared by rows are one text: equal at a glance.
bool TextLess(const QString& a, const QString& b)
{
    return (a.constData() != b.constData() || a.size() != b.size()) && a < b;
}

} // namespace

const SearchResultNames::Name& SearchResultNames::Get(const QString& text)
{
    Key key { text, qHash(text) };
    auto& names = m_names[key.hash % kTables];
    auto name = names.find(key);
    if (name == names.end())
        name = names.emplace(std::move(key), Name { text, SearchResultListItem::Shown(text), text.toLower() }).first;
    return name->second;
}

QString SearchResultListItem::Shown(const QString& name)
{
    return IsolatedText(TextBound::Shown(name, kShownName));
}

bool SearchResultNames::Forget(int count)
{
    bool empty = true;
    for (auto& names : m_names) {
        for (auto name = names.begin(); name != names.end() && count > 0; --count)
            name = names.erase(name);
        empty = empty && names.empty();
    }
    return empty;
}

SearchResultListItem::SearchResultListItem(QTreeWidget* parent)
    : QTreeWidgetItem(parent, kRowType)
{
}

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* parent)
    : QTreeWidgetItem(parent, kRowType)
{
}

SearchResultListItem::SearchResultListItem()
    : QTreeWidgetItem(kRowType)
{
}

SearchResultListItem::~SearchResultListItem() = default;

void SearchResultListItem::SetFileNumbers(qint64 size, int bitrate)
{
    setData(SizeColumn, kFileNumbersRole, true);
    setData(SizeColumn, kSizeRole, size);
    setData(SizeColumn, kBitrateRole, bitrate);
    m_key.column = -1; // a key made from the old numbers is stale
}

void SearchResultListItem::SetName(int column, const QString& name)
{
    SetName(column, { name, Shown(name), name.toLower() });
}

void SearchResultListItem::SetName(int column, const SearchResultNames::Name& name)
{
    setData(column, kNameRole, name.text);
    setData(column, kNameKeyRole, name.key);
    setText(column, name.shown);
    m_key.column = -1;
}

QString SearchResultListItem::Name(const QTreeWidgetItem& row, int column)
{
    const QVariant name = row.data(column, kNameRole);
    return name.isValid() ? name.toString() : row.text(column);
}

bool SearchResultListItem::Less(const QTreeWidgetItem& a, const QTreeWidgetItem& other, int column)
{
    switch (column) {
    case UserColumn:
    case FolderColumn:
    case FileColumn:
        return Name(a, column).toLower() < Name(other, column).toLower();
    case FreeColumn: {
        const FreeKey ka = ReadFree(a);
        const FreeKey kb = ReadFree(other);
        if (ka.free != kb.free)
            return kb.free;
        if (ka.queue != kb.queue)
            return kb.queue < ka.queue; // a longer queue ranks lower
        const double speedA = ReadSpeed(a);
        const double speedB = ReadSpeed(other);
        if (speedA != speedB)
            return speedA < speedB;
        return Name(other, FileColumn) < Name(a, FileColumn);
    }
    case SpeedColumn:
        return ReadSpeed(a) < ReadSpeed(other);
    case SizeColumn:
    case AttributesColumn: {
        if (!a.data(SizeColumn, kFileNumbersRole).toBool() || !other.data(SizeColumn, kFileNumbersRole).toBool())
            return false;
        const int role = column == SizeColumn ? kSizeRole : kBitrateRole;
        return a.data(SizeColumn, role).toLongLong() > other.data(SizeColumn, role).toLongLong();
    }
    default:
        return false;
    }
}

const SearchResultListItem::SortKey& SearchResultListItem::MakeKey(int column) const
{
    SortKey key;
    key.column = column;
    switch (column) {
    case UserColumn:
    case FolderColumn:
    case FileColumn: {
        const QVariant shared = data(column, kNameKeyRole);
        key.text = shared.isValid() ? shared.toString() : Name(*this, column).toLower();
        break;
    }
    case FreeColumn: {
        const FreeKey free = ReadFree(*this);
        key.free = free.free;
        key.number = free.queue;
        key.speed = ReadSpeed(*this);
        key.text = Name(*this, FileColumn);
        break;
    }
    case SpeedColumn:
        key.speed = ReadSpeed(*this);
        break;
    case SizeColumn:
    case AttributesColumn:
        key.hasNumbers = data(SizeColumn, kFileNumbersRole).toBool();
        key.number = data(SizeColumn, column == SizeColumn ? kSizeRole : kBitrateRole).toLongLong();
        break;
    default:
        break;
    }
    m_key = std::move(key);
    return m_key;
}

// The same order as Less, on keys made once per row.
bool SearchResultListItem::KeyLess(const SortKey& a, const SortKey& b, int column)
{
    switch (column) {
    case UserColumn:
    case FolderColumn:
    case FileColumn:
        return TextLess(a.text, b.text);
    case FreeColumn:
        if (a.free != b.free)
            return b.free;
        if (a.number != b.number)
            return b.number < a.number;
        if (a.speed != b.speed)
            return a.speed < b.speed;
        return TextLess(b.text, a.text);
    case SpeedColumn:
        return a.speed < b.speed;
    case SizeColumn:
    case AttributesColumn:
        return a.hasNumbers && b.hasNumbers && a.number > b.number;
    default:
        return false;
    }
}

bool SearchResultListItem::LessThan(const QTreeWidgetItem& other, int column) const
{
    if (other.type() == kRowType)
        return KeyLess(Key(column), static_cast<const SearchResultListItem&>(other).Key(column), column);
    return Less(*this, other, column);
}

bool SearchResultListItem::Ranks(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column)
{
    if (a.type() == kRowType)
        return static_cast<const SearchResultListItem&>(a).LessThan(b, column);
    return Less(a, b, column);
}

bool SearchResultListItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* tree = treeWidget();
    return LessThan(other, tree ? tree->sortColumn() : 0);
}

int SearchResultListItem::SortedPosition(
    QTreeWidget* tree, QTreeWidgetItem* parent, const QTreeWidgetItem* row, int column, Qt::SortOrder order)
{
    const int count = parent ? parent->childCount() : tree->topLevelItemCount();
    int low = 0;
    int high = count;
    while (low < high) {
        const int mid = (low + high) / 2;
        const QTreeWidgetItem* other = parent ? parent->child(mid) : tree->topLevelItem(mid);
        // Does the new row rank strictly before the one at mid in this order?
        const bool before
            = order == Qt::AscendingOrder ? Ranks(*row, *other, column) : Ranks(*other, *row, column);
        if (before)
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}
