#pragma once
// A plain non-owning handle to an item; every accessor is safe on a null handle.
#include "Value.h"
#include <QMetaType>
#include <QString>
#include <QtGlobal>
#include <string>

struct Item;
class Type;
class ItemSet;

class ItemPtr {
public:
    ItemPtr() = default;
    ItemPtr(Item* item)
        : m_item(item)
    {
    }

    Item* Get() const { return m_item; }
    bool IsNull() const { return m_item == nullptr; }
    explicit operator bool() const { return m_item != nullptr; }
    bool operator==(const ItemPtr& o) const { return m_item == o.m_item; }
    bool operator!=(const ItemPtr& o) const { return m_item != o.m_item; }
    bool operator<(const ItemPtr& o) const;
    Type* GetType() const;
    quint64 Serial() const;

    // The connected item of a type, or a null handle; never creates.
    ItemPtr operator[](const char* type) const { return GetItem(type); }
    ItemPtr operator[](Type* type) const { return GetItem(type); }
    ItemPtr GetItem(const char* type) const;
    ItemPtr GetItem(Type* type) const;
    ItemPtr HasItem(const char* type) const { return GetItem(type); }
    ItemPtr HasItem(Type* type) const { return GetItem(type); }
    ItemSet GetItems(const char* type) const;
    ItemSet GetItems(Type* type) const;
    void GetItems(const char* type, ItemSet& into) const;
    size_t CountItems(const char* type) const;

    bool IsConnected(const char* type) const;
    bool IsConnected(Type* type) const;
    bool IsConnected(ItemPtr other) const;
    bool IsDisconnectedFromAll() const;

    // Connects two items of related types; across a One end the previous
    // partner is dropped first. Returns the other item.
    ItemPtr Connect(ItemPtr other) const;
    ItemPtr operator+=(ItemPtr other) const { return Connect(other); }
    void Disconnect(ItemPtr other) const;
    void operator-=(ItemPtr other) const { Disconnect(other); }
    // From every partner of the type, all at once (Data::DisconnectAll).
    void Disconnect(const char* type) const;
    void Disconnect(Type* type) const;

    // The connected item of the named type when this item can have only one
    // and has it; otherwise a new item of that type, connected to this one.
    ItemPtr NewItem(const char* type) const;

    void Remove() const;

    QString AsString() const;
    std::string AsStdString() const;
    std::string Text() const;
    int AsInt() const;
    unsigned int AsUInt() const;
    qint64 AsInt64() const;
    quint64 AsUInt64() const;
    // The run-time object whose address is the value (all 64 bits).
    template <class T> T* AsPointer() const { return reinterpret_cast<T*>(static_cast<quintptr>(AsUInt64())); }

private:
    Item* m_item = nullptr;
};

Q_DECLARE_METATYPE(ItemPtr)

struct ConnectionInfo {
    ItemPtr first;
    ItemPtr second;
};

size_t qHash(const ItemPtr& item, size_t seed = 0);
