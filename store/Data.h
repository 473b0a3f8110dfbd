#pragma once
// The item store: typed items, their connections, events and watched paths.
//
// Event order. Connecting x (type A) to y (type B): partners that a One end
// forbids are disconnected first (with their events); then A's connected event
// gets (x, y), B's gets (y, x) (once when A is B), the handlers added for the
// pair (A, B) get (x, y) and those for (B, A) get (y, x), the store's connected
// event gets (x, y), and last the watched paths. Removing an item: it leaves its
// type and value index, its type's and then the store's item-removed handlers
// run while it still has its connections, then each connection is dropped with
// its events, then it is freed. Items removed while any event is being
// dispatched are freed when the outermost dispatch ends, so handles in flight
// stay readable; dispatch of an event about an item that a handler removed
// stops there.
#include "Event.h"
#include "Item.h"
#include "ItemPool.h"
#include "ItemSet.h"
#include "PathNode.h"
#include "StoreExceptions.h"
#include "Type.h"
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class Data {
public:
    Data();
    ~Data();
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    // Declares a type; throws TypeAlreadyExistsException when taken.
    Type* NewType(const std::string& name, Primacy primacy, bool null = false, bool autoCreate = true);
    // The type of the name, declared here unless another part of the client
    // declared it already (then its primacy and flags stay as they were).
    Type* DeclareType(const std::string& name, Primacy primacy, bool null = false, bool autoCreate = true);
    // Relates the types unless they are related already. Each end is the
    // multiplicity of that type's side, a's first: RelateTypes(user, room,
    // Many, Many); RelateTypes(file, size, Many, One) gives every file one size
    // and lets a size item serve many files. This and DeclareType are the one
    // way parts of the client declare their schema.
    void RelateTypes(Type* a, Type* b, OneOrMany aEnd, OneOrMany bEnd, bool owning = false);
    void RelateTypes(const char* a, const char* b, OneOrMany aEnd, OneOrMany bEnd, bool owning = false)
    {
        RelateTypes(GetType(a), GetType(b), aEnd, bEnd, owning);
    }
    // The type of a name; throws TypeNotFoundException when unknown.
    Type* GetType(const char* name) const;
    Type* GetType(const std::string& name) const { return GetType(name.c_str()); }
    // The type of a name or null; never throws.
    Type* HasType(const std::string& name) const;
    const std::vector<Type*>& Types() const { return m_types; }

    // The first item of the type connected to every given item, or a null handle.
    ItemPtr GetItem(const ItemSet& items, const char* type) const;
    ItemPtr GetItem(ItemPtr a, ItemPtr b, const char* type) const;
    // The union of the items of the type connected to the members.
    ItemSet GetItems(const ItemSet& items, const char* type) const;
    // The items of the type connected to every member; the cost follows the
    // smallest of the members' connection sets.
    ItemSet GetItemSubset(const ItemSet& items, const char* type) const;

    // The sweep: removes every item no longer reachable. An item of a type that
    // nothing owns survives when it can be reached from an entity item (primacy
    // 0, not owned) through link items (primacy 1); attribute items (primacy 2)
    // are reached but not followed. An item of an owned type survives only when
    // reached from a surviving owner through an owning relation.
    // It ends a sweep done a slice at a time that is under way.
    size_t RemoveDisconnectedItems();
    // Whether the sweep goes on from an item of one type to a connected item
    // of another, once it has reached the first; and the types whose items
    // it starts from.
    static bool Leads(const Type* from, const Type* to);
    static bool IsRoot(const Type* type) { return type->GetPrimacy() == kEntity && !type->IsOwned(); }
    // A mark that no item holds now, for a sweep (31 bits, never 0).
    quint32 NewMarkEpoch();
    // Removes every item of every type (types and handlers stay); ends a
    // sliced sweep under way.
    void Clear();
    size_t ItemCount() const { return m_itemCount; }

    void AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    // Takes the path; nothing fires at registration.
    void AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler);

    Event<ItemPtr> itemAdded;
    Event<ItemPtr> itemRemoved;
    Event<ConnectionInfo&> connected;
    Event<ConnectionInfo&> disconnected;
    Event<Type*> typeAdded;

    // Told of every item about to change (a connection made or dropped, the
    // item removed), before the change, while set: a reader that goes over
    // the store in several turns (a save) keeps what it has not read yet as
    // it was. One at a time.
    class ChangeWatcher {
    public:
        virtual void BeforeChange(Item* item) = 0;
        virtual void BeforeRemove(Item* item) = 0;

    protected:
        ~ChangeWatcher() = default;
    };
    void SetChangeWatcher(ChangeWatcher* watcher) { m_changeWatcher = watcher; }
    ChangeWatcher* GetChangeWatcher() const { return m_changeWatcher; }

    // Told, while set, of the changes that a sweep done a slice at a time
    // must see between its slices: a connection made (after it is), an item
    // about to be removed; and Abandon() when its marks lose their meaning
    // (a sweep at once, Clear, the store's end), unset just before. One at a
    // time.
    class SweepWatcher {
    public:
        virtual void Connected(Item* x, Item* y) = 0;
        virtual void Removing(Item* item) = 0;
        virtual void Abandon() = 0;

    protected:
        ~SweepWatcher() = default;
    };
    void SetSweepWatcher(SweepWatcher* watcher) { m_sweepWatcher = watcher; }
    // The creation number that the next item made gets.
    quint64 NextSerial() const { return m_nextSerial; }

    // Items removed between BeginBatch and EndBatch are freed only at the end,
    // so a caller holding raw handles (the data file's loader) stays safe.
    void BeginBatch() { ++m_dispatchDepth; }
    void EndBatch() { EndDispatch(); }

    // Used by Type, ItemPtr and the data file.
    Item* CreateItem(Type* type, std::string_view value);
    // The same for an indexed type, with the value's hash known.
    Item* CreateItem(Type* type, std::string_view value, quint64 hash);
    // Creates items of a type with these values, as CreateItem does one by one,
    // into out (the loader's bulk path).
    void CreateItems(Type* type, const std::string_view* values, size_t count, Item** out);
    // The loader makes the items of a null type that nobody listens to on
    // another thread, while this one makes the rest: their creation numbers
    // are taken here in turn, the items made there in a pool of their own (no
    // other use of the type meanwhile), and the store takes that pool over.
    quint64 TakeSerials(size_t count);
    static void MakeNullItems(
        ItemPool<Item>& pool, Type* type, quint64 firstSerial, size_t count, Item** out);
    void AdoptItems(ItemPool<Item>& pool, size_t count);
    bool Connect(Item* x, Item* y);
    // Connects each pair in turn as Connect does, with the same events; the
    // partners' connection maps are fetched from memory some pairs ahead, so
    // that linking many items to partners spread over memory does not wait
    // on each in turn. Items removed meanwhile are freed at the end.
    void ConnectAll(const std::pair<Item*, Item*>* pairs, size_t count);
    bool Disconnect(Item* x, Item* y);
    // Disconnects x from every partner of the type, as Disconnect(x, partner)
    // would in creation order, but drops them all first: x's side at once,
    // however many it holds. So every handler is told of each pair, in that
    // order, with all of them gone already; a pair that a handler connects
    // again before its turn stays connected and is not told.
    size_t DisconnectAll(Item* x, Type* type);
    void Remove(Item* item);

private:
    struct Watch {
        std::unique_ptr<PathNode> root;
        HandlerRef<EventHandlerBase<ItemPtr>> handler;
        bool dead = false;
    };
    struct PathEdge {
        Watch* watch;
        PathNode* node; // the child step; its parent is the other end
    };
    struct PairHandler {
        Type* a;
        Type* b;
        HandlerRef<EventHandlerBase<ConnectionInfo&>> handler;
    };
    class DispatchScope;

    void DispatchConnection(Item* x, Item* y, bool connect);
    void RunPaths(Item* x, Item* y, bool connect);
    void FireWatch(Watch* watch, PathNode* parentStep, Item* parentItem);
    bool Evaluate(const PathNode* node, Item* item) const;
    void IndexPath(Watch* watch, PathNode* node);
    void FreeItem(Item* item);
    void EndDispatch();
    void AbandonSweep();
    static quint64 PairKey(const Type* a, const Type* b);

    ItemPool<Item> m_pool;
    std::vector<Type*> m_types;
    std::unordered_map<std::string, Type*> m_typesByName;
    struct NameCacheEntry {
        const char* key = nullptr;
        Type* type = nullptr;
    };
    mutable NameCacheEntry m_nameCache[256];
    quint64 m_nextSerial = 1;
    size_t m_itemCount = 0;
    int m_dispatchDepth = 0;
    std::vector<Item*> m_graveyard;
    quint32 m_markEpoch = 0;
    ChangeWatcher* m_changeWatcher = nullptr;
    SweepWatcher* m_sweepWatcher = nullptr;

    std::vector<PairHandler> m_pairHandlers;
    std::vector<std::unique_ptr<Watch>> m_watches;
    std::unordered_map<quint64, std::vector<PathEdge>> m_pathEdges;
    std::unordered_map<Item*, std::vector<Watch*>> m_fixedItems;
};

// The one store of the process.
extern Data d;

// The existing item of a type with a value, as a set (empty when missing).
ItemSet i(const char* type, const Value& value);
// Every item of the named type.
ItemSet g(const char* type);
