#include "Data.h"
#include "ToQString.h"
#include <charconv>

namespace {
Type* Named(const Item* item, const char* type) { return item->type->GetData()->GetType(type); }

template <class T> T ParseNumber(const Item* item)
{
    if (!item)
        return 0;
    const std::string_view text = item->value;
    const char* begin = text.data();
    const char* end = begin + text.size();
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    if (begin < end && *begin == '+')
        ++begin;
    T value = 0;
    auto result = std::from_chars(begin, end, value);
    if (result.ec != std::errc() || result.ptr != end)
        return 0;
    return value;
}
}

bool ItemPtr::operator<(const ItemPtr& o) const
{
    quint64 a = m_item ? m_item->serial : 0;
    quint64 b = o.m_item ? o.m_item->serial : 0;
    return a < b;
}

Type* ItemPtr::GetType() const { return m_item ? m_item->type : nullptr; }
quint64 ItemPtr::Serial() const { return m_item ? m_item->serial : 0; }

ItemPtr ItemPtr::GetItem(const char* type) const { return m_item ? GetItem(Named(m_item, type)) : ItemPtr(); }
ItemPtr ItemPtr::GetItem(Type* type) const { return m_item ? ItemPtr(m_item->connections.First(type)) : ItemPtr(); }

ItemSet ItemPtr::GetItems(const char* type) const { return m_item ? GetItems(Named(m_item, type)) : ItemSet(); }

ItemSet ItemPtr::GetItems(Type* type) const
{
    ItemSet set;
    if (!m_item)
        return set;
    if (const ChunkedSet* group = m_item->connections.GroupOf(type))
        return ItemSet::FromOrdered(*group);
    m_item->connections.ForEachOfType(type, [&](Item* p) { set.Insert(p); });
    return set;
}

void ItemPtr::GetItems(const char* type, ItemSet& into) const
{
    if (m_item)
        m_item->connections.ForEachOfType(Named(m_item, type), [&](Item* p) { into.Insert(p); });
}

size_t ItemPtr::CountItems(const char* type) const
{
    return m_item ? m_item->connections.Count(Named(m_item, type)) : 0;
}

bool ItemPtr::IsConnected(const char* type) const { return m_item && IsConnected(Named(m_item, type)); }
bool ItemPtr::IsConnected(Type* type) const { return m_item && m_item->connections.First(type) != nullptr; }
bool ItemPtr::IsConnected(ItemPtr other) const
{
    return m_item && other.m_item && m_item->connections.Contains(other.m_item);
}
bool ItemPtr::IsDisconnectedFromAll() const { return !m_item || m_item->connections.Empty(); }

ItemPtr ItemPtr::Connect(ItemPtr other) const
{
    if (m_item && other.m_item)
        m_item->type->GetData()->Connect(m_item, other.m_item);
    return other;
}

void ItemPtr::Disconnect(ItemPtr other) const
{
    if (m_item && other.m_item)
        m_item->type->GetData()->Disconnect(m_item, other.m_item);
}

void ItemPtr::Disconnect(const char* type) const
{
    if (m_item)
        Disconnect(Named(m_item, type));
}

void ItemPtr::Disconnect(Type* type) const
{
    if (m_item)
        m_item->type->GetData()->DisconnectAll(m_item, type);
}

ItemPtr ItemPtr::NewItem(const char* typeName) const
{
    if (!m_item)
        return ItemPtr();
    Data* data = m_item->type->GetData();
    Type* type = data->GetType(typeName);
    const RelationInfo* rel = m_item->type->GetRelation(type);
    if (!rel)
        throw NotRelatedException(m_item->type->Name(), type->Name());
    // Where this item may have only one partner of the type, that one is it.
    if (rel->otherEnd == One) {
        if (Item* existing = m_item->connections.First(type))
            return existing;
    }
    ItemPtr created = type->IsNull() ? type->NewItem() : type->NewItem(Value());
    Connect(created);
    return created;
}

void ItemPtr::Remove() const
{
    if (m_item)
        m_item->type->GetData()->Remove(m_item);
}

QString ItemPtr::AsString() const { return m_item ? ToQString(m_item->value.data(), qsizetype(m_item->value.size())) : QString(); }
std::string ItemPtr::AsStdString() const { return m_item ? m_item->value.str() : std::string(); }
std::string ItemPtr::Text() const { return m_item ? m_item->value.str() : std::string(); }
int ItemPtr::AsInt() const { return ParseNumber<int>(m_item); }
unsigned int ItemPtr::AsUInt() const { return ParseNumber<unsigned int>(m_item); }
qint64 ItemPtr::AsInt64() const { return ParseNumber<qint64>(m_item); }
quint64 ItemPtr::AsUInt64() const { return ParseNumber<quint64>(m_item); }

size_t qHash(const ItemPtr& item, size_t seed) { return ::qHash(quintptr(item.Get()), seed); }
