#pragma once
// A named kind of item: its primacy, its null and auto-create flags, its
// relations, its items with their value index, and its four events.
#include "Event.h"
#include "ItemSet.h"
#include "StoreExceptions.h"
#include "ValueIndex.h"
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class Data;

// 0 for entity types (users, rooms), 1 for link types, 2 for attributes and flags.
using Primacy = int;
constexpr Primacy kEntity = 0;
constexpr Primacy kLink = 1;
constexpr Primacy kAttribute = 2;

// How many items of an end's type one item of the other type may be connected to.
enum OneOrMany { One = 0, Many = 1 };

struct RelationInfo {
    Type* other;
    OneOrMany thisEnd; // how many of this type one item of the other may have
    OneOrMany otherEnd; // how many of the other type one item of this may have
    bool owns; // this type owns the other
    bool ownedBy; // the other type owns this one
};

class Type {
public:
    const std::string& Name() const { return m_name; }
    Primacy GetPrimacy() const { return m_primacy; }
    bool IsNull() const { return m_null; }
    bool IsAutoCreate() const { return m_autoCreate; }
    quint32 Ordinal() const { return m_ordinal; }
    Data* GetData() const { return m_data; }

    // Declares a relation on both types; throws AlreadyRelatedException when
    // the pair is already related.
    void RelateToType(Type* other, OneOrMany thisEnd, OneOrMany otherEnd, bool owning = false);
    const RelationInfo* GetRelation(const Type* other) const
    {
        return other->m_ordinal < m_relations.size() ? m_relations[other->m_ordinal] : nullptr;
    }
    bool IsOwned() const { return m_owned; }
    const std::vector<RelationInfo*>& Relations() const { return m_relationList; }

    // The item with that value; created (and announced) when missing and the
    // type auto-creates, else a null handle.
    ItemPtr GetItem(const Value& value);
    ItemPtr operator[](const Value& value) { return GetItem(value); }
    // The item with that value or a null handle; never creates.
    ItemPtr HasItem(const Value& value) const;
    ItemPtr HasItemText(std::string_view value) const;
    // GetItem for a value whose hash (ValueHash) is known, e.g. because it
    // was fetched ahead with PrefetchValue.
    ItemPtr GetItemText(std::string_view value, quint64 hash);
    static quint64 ValueHash(std::string_view value) { return ValueIndex::Hash(value); }
    // Starts loading where the index keeps a value of this hash, so that a
    // lookup a little later need not wait for memory.
    void PrefetchValue(quint64 hash) const { m_index.Prefetch(hash); }
    // A new item with the value (throws NullTypeException on a null type).
    ItemPtr NewItem(const Value& value);
    // A new item of a null type.
    ItemPtr NewItem();
    // The single item of a null type, created on first use.
    ItemPtr GetGlobalNullItem();
    bool IsGlobalNullItem(ItemPtr item) const { return item.Get() == m_globalNull; }
    // A copy of every item of the type (removing items while walking it is safe).
    ItemSet GetItems() const { return ItemSet::FromOrdered(m_items); }
    size_t Count() const { return m_items.Size(); }
    const ChunkedSet& Items() const { return m_items; }
    void ReserveItems(size_t more) { m_index.Reserve(more); }

    Event<ItemPtr> itemAdded;
    Event<ItemPtr> itemRemoved;
    Event<ConnectionInfo&> connected;
    Event<ConnectionInfo&> disconnected;

private:
    friend class Data;
    Type(Data* data, std::string name, Primacy primacy, bool null, bool autoCreate, quint32 ordinal);
    ~Type();

    Data* m_data;
    std::string m_name;
    Primacy m_primacy;
    bool m_null;
    bool m_autoCreate;
    bool m_owned = false;
    // Whether a connection handler for a pair of types, or a watched path,
    // names this type: connections between other types skip looking for them.
    bool m_inPairHandler = false;
    bool m_inPath = false;
    quint32 m_ordinal;
    ChunkedSet m_items;
    ValueIndex m_index;
    // Items whose value an indexed item of the type also has, by value.
    std::unordered_map<std::string, std::vector<Item*>> m_duplicates;
    Item* m_globalNull = nullptr;
    std::vector<RelationInfo*> m_relations; // by the other type's ordinal
    std::vector<RelationInfo*> m_relationList;
};
