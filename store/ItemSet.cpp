#include "Data.h"
#include "ToQString.h"
#include <algorithm>

ItemSet::ItemSet(const ItemSet& other)
{
    if (other.IsSingle())
        m_word = other.m_word;
    else if (other.m_word)
        m_word = reinterpret_cast<quintptr>(new ChunkedSet(*other.Set())) | 1;
}

ItemSet& ItemSet::operator=(const ItemSet& other)
{
    if (this != &other) {
        ItemSet copy(other);
        std::swap(m_word, copy.m_word);
    }
    return *this;
}

ItemSet& ItemSet::operator=(ItemSet&& other) noexcept
{
    std::swap(m_word, other.m_word);
    return *this;
}

ItemSet::~ItemSet()
{
    if (m_word & 1)
        delete Set();
}

ItemSet ItemSet::FromOrdered(const ChunkedSet& set)
{
    ItemSet result;
    if (set.Size() == 1)
        result.m_word = reinterpret_cast<quintptr>(set.First());
    else if (set.Size() > 1)
        result.m_word = reinterpret_cast<quintptr>(new ChunkedSet(set)) | 1;
    return result;
}

ItemSet::Iterator ItemSet::Begin() const
{
    Iterator it;
    if (IsSingle())
        it.m_single = Single();
    else if (m_word)
        it.m_set = Set();
    return it;
}

size_t ItemSet::Size() const
{
    if (!m_word)
        return 0;
    return IsSingle() ? 1 : Set()->Size();
}

bool ItemSet::Insert(ItemPtr item)
{
    Item* p = item.Get();
    if (!p)
        return false;
    if (!m_word) {
        m_word = reinterpret_cast<quintptr>(p);
        return true;
    }
    if (IsSingle()) {
        if (Single() == p)
            return false;
        auto* set = new ChunkedSet;
        set->Insert(Single());
        set->Insert(p);
        m_word = reinterpret_cast<quintptr>(set) | 1;
        return true;
    }
    return Set()->Insert(p);
}

bool ItemSet::Erase(ItemPtr item)
{
    Item* p = item.Get();
    if (!p || !m_word)
        return false;
    if (IsSingle()) {
        if (Single() != p)
            return false;
        m_word = 0;
        return true;
    }
    if (!Set()->Erase(p))
        return false;
    if (Set()->Size() == 1) {
        Item* last = Set()->First();
        delete Set();
        m_word = reinterpret_cast<quintptr>(last);
    }
    return true;
}

bool ItemSet::Contains(ItemPtr item) const
{
    if (!item || !m_word)
        return false;
    return IsSingle() ? Single() == item.Get() : Set()->Contains(item.Get());
}

void ItemSet::Clear()
{
    ItemSet empty;
    std::swap(m_word, empty.m_word);
}

ItemPtr ItemSet::First() const
{
    if (!m_word)
        return ItemPtr();
    return IsSingle() ? ItemPtr(Single()) : ItemPtr(Set()->First());
}

ItemSet& ItemSet::Add(const ItemSet& other)
{
    if (Empty()) {
        *this = other;
        return *this;
    }
    for (ItemPtr item : other)
        Insert(item);
    return *this;
}

ItemSet& ItemSet::Intersect(const ItemSet& other)
{
    const ItemSet& small = Size() <= other.Size() ? *this : other;
    const ItemSet& large = Size() <= other.Size() ? other : *this;
    ItemSet result;
    for (ItemPtr item : small)
        if (large.Contains(item))
            result.Insert(item);
    *this = std::move(result);
    return *this;
}

template <class Pred> ItemSet ItemSet::Filter(Pred pred) const
{
    ItemSet result;
    for (ItemPtr item : *this)
        if (pred(item.Get()))
            result.Insert(item);
    return result;
}

namespace {
Type* TypeOf(const ItemSet& set, const char* name)
{
    ItemPtr first = set.First();
    return first ? first.GetType()->GetData()->GetType(name) : nullptr;
}
}

ItemSet ItemSet::GetItems(const char* typeName) const
{
    ItemSet result;
    Type* type = TypeOf(*this, typeName);
    if (!type)
        return result;
    for (ItemPtr item : *this)
        item.Get()->connections.ForEachOfType(type, [&](Item* p) { result.Insert(p); });
    return result;
}

ItemSet ItemSet::Connected(ItemPtr item) const
{
    if (!item)
        return ItemSet();
    return Filter([&](Item* m) { return m->connections.Contains(item.Get()); });
}

ItemSet ItemSet::Connected(const ItemSet& items) const
{
    return Filter([&](Item* m) {
        for (ItemPtr other : items)
            if (m->connections.Contains(other.Get()))
                return true;
        return false;
    });
}

ItemSet ItemSet::Connected(const char* typeName) const
{
    Type* type = TypeOf(*this, typeName);
    if (!type)
        return ItemSet();
    return Filter([&](Item* m) { return m->connections.First(type) != nullptr; });
}

ItemSet ItemSet::Connected(const char* typeName, const Value& value) const
{
    Type* type = TypeOf(*this, typeName);
    if (!type)
        return ItemSet();
    ItemPtr target = type->HasItem(value);
    return Connected(target);
}

ItemSet ItemSet::NotConnected(const char* typeName) const
{
    Type* type = TypeOf(*this, typeName);
    if (!type)
        return ItemSet();
    return Filter([&](Item* m) { return m->connections.First(type) == nullptr; });
}

ItemSet ItemSet::NotConnected(ItemPtr item) const
{
    if (!item)
        return *this;
    return Filter([&](Item* m) { return !m->connections.Contains(item.Get()); });
}

ItemSet ItemSet::NotConnected(const char* typeName, const Value& value) const
{
    Type* type = TypeOf(*this, typeName);
    if (!type)
        return ItemSet();
    return NotConnected(type->HasItem(value));
}

void ItemSet::Disconnect(const char* typeName) const
{
    ItemSet copy(*this);
    for (ItemPtr item : copy)
        item.Disconnect(typeName);
}

void ItemSet::Remove() const
{
    ItemSet copy(*this);
    for (ItemPtr item : copy)
        item.Remove();
}

ItemList ItemSet::ToList() const
{
    ItemList list;
    list.reserve(Size());
    for (ItemPtr item : *this)
        list.push_back(item);
    return list;
}

namespace {
// Code unit by code unit, stable, so equal texts keep creation order.
ItemList SortByText(std::vector<std::pair<QString, ItemPtr>>& keyed, bool ascending)
{
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
        return ascending ? QString::compare(a.first, b.first, Qt::CaseSensitive) < 0
                         : QString::compare(b.first, a.first, Qt::CaseSensitive) < 0;
    });
    ItemList list;
    list.reserve(keyed.size());
    for (auto& k : keyed)
        list.push_back(k.second);
    return list;
}
}

ItemList ItemSet::SortAlphabetic(bool ascending) const
{
    std::vector<std::pair<QString, ItemPtr>> keyed;
    keyed.reserve(Size());
    for (ItemPtr item : *this)
        keyed.emplace_back(item.AsString(), item);
    return SortByText(keyed, ascending);
}

ItemList ItemSet::SortAlphabeticBy(const char* typeName, bool ascending, bool caseSensitive) const
{
    Type* type = TypeOf(*this, typeName);
    std::vector<std::pair<QString, ItemPtr>> keyed;
    if (!type)
        return ItemList();
    for (ItemPtr item : *this) {
        ItemPtr key = item.GetItem(type);
        if (!key)
            continue;
        QString text = key.AsString();
        keyed.emplace_back(caseSensitive ? text : text.toLower(), item);
    }
    return SortByText(keyed, ascending);
}

ItemList ItemSet::SortNumericBy(const char* typeName, bool ascending) const
{
    Type* type = TypeOf(*this, typeName);
    std::vector<std::pair<qint64, ItemPtr>> keyed;
    if (!type)
        return ItemList();
    for (ItemPtr item : *this) {
        ItemPtr key = item.GetItem(type);
        if (key)
            keyed.emplace_back(key.AsInt64(), item);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
        return ascending ? a.first < b.first : b.first < a.first;
    });
    ItemList list;
    for (auto& k : keyed)
        list.push_back(k.second);
    return list;
}
