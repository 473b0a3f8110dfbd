#include "Type.h"
#include "Data.h"

Type::Type(Data* data, std::string name, Primacy primacy, bool null, bool autoCreate, quint32 ordinal)
    : m_data(data)
    , m_name(std::move(name))
    , m_primacy(primacy)
    , m_null(null)
    , m_autoCreate(autoCreate)
    , m_ordinal(ordinal)
{
}

Type::~Type()
{
    for (RelationInfo* r : m_relationList)
        delete r;
}

void Type::RelateToType(Type* other, OneOrMany thisEnd, OneOrMany otherEnd, bool owning)
{
    if (GetRelation(other))
        throw AlreadyRelatedException(m_name, other->m_name);
    auto grow = [](Type* t, quint32 ordinal) {
        if (t->m_relations.size() <= ordinal)
            t->m_relations.resize(ordinal + 1, nullptr);
    };
    grow(this, other->m_ordinal);
    grow(other, m_ordinal);
    auto* mine = new RelationInfo { other, thisEnd, otherEnd, owning, false };
    m_relations[other->m_ordinal] = mine;
    m_relationList.push_back(mine);
    if (other != this) {
        auto* theirs = new RelationInfo { this, otherEnd, thisEnd, false, owning };
        other->m_relations[m_ordinal] = theirs;
        other->m_relationList.push_back(theirs);
    } else {
        mine->ownedBy = owning;
    }
    if (owning)
        other->m_owned = true;
}

ItemPtr Type::HasItemText(std::string_view value) const
{
    if (m_null)
        return ItemPtr();
    return m_index.Find(value);
}

ItemPtr Type::HasItem(const Value& value) const { return HasItemText(value.Text()); }

ItemPtr Type::GetItem(const Value& value)
{
    const std::string_view text = value.Text();
    return GetItemText(text, ValueIndex::Hash(text));
}

ItemPtr Type::GetItemText(std::string_view value, quint64 hash)
{
    if (m_null)
        throw NullTypeException(m_name, true);
    // One hash for the lookup and the insertion.
    ItemPtr found = m_index.Find(value, hash);
    if (found || !m_autoCreate)
        return found;
    return m_data->CreateItem(this, value, hash);
}

ItemPtr Type::NewItem(const Value& value)
{
    if (m_null)
        throw NullTypeException(m_name, true);
    return m_data->CreateItem(this, value.Text());
}

ItemPtr Type::NewItem() { return m_data->CreateItem(this, std::string()); }

ItemPtr Type::GetGlobalNullItem()
{
    if (!m_null)
        throw NullTypeException(m_name, false);
    if (!m_globalNull)
        m_globalNull = m_data->CreateItem(this, std::string());
    return m_globalNull;
}
