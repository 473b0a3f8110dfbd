#include "Data.h"
#include "SmallBlocks.h"
#include <algorithm>
#include <cstring>
#include <utility>

Data d;

// Counts nested dispatches; items removed meanwhile are freed at the end.
class Data::DispatchScope {
public:
    explicit DispatchScope(Data* data)
        : m_data(data)
    {
        ++m_data->m_dispatchDepth;
    }
    ~DispatchScope() { m_data->EndDispatch(); }

private:
    Data* m_data;
};

Data::Data() = default;

Data::~Data()
{
    AbandonSweep();
    m_watches.clear();
    m_pathEdges.clear();
    for (Type* t : m_types) {
        for (ChunkedSet::Position p; t->m_items.Valid(p); t->m_items.Advance(p))
            m_pool.Destroy(t->m_items.At(p));
        t->m_items.Clear();
    }
    for (Item* item : m_graveyard)
        m_pool.Destroy(item);
    for (Type* t : m_types)
        delete t;
}

Type* Data::DeclareType(const std::string& name, Primacy primacy, bool null, bool autoCreate)
{
    if (Type* type = HasType(name))
        return type;
    return NewType(name, primacy, null, autoCreate);
}

void Data::RelateTypes(Type* a, Type* b, OneOrMany aEnd, OneOrMany bEnd, bool owning)
{
    if (!a->GetRelation(b))
        a->RelateToType(b, aEnd, bEnd, owning);
}

Type* Data::NewType(const std::string& name, Primacy primacy, bool null, bool autoCreate)
{
    if (m_typesByName.count(name))
        throw TypeAlreadyExistsException(name);
    Type* type = new Type(this, name, primacy, null, autoCreate, quint32(m_types.size()));
    m_types.push_back(type);
    m_typesByName.emplace(name, type);
    typeAdded.Dispatch(type);
    return type;
}

Type* Data::HasType(const std::string& name) const
{
    auto it = m_typesByName.find(name);
    return it == m_typesByName.end() ? nullptr : it->second;
}

Type* Data::GetType(const char* name) const
{
    // Most lookups name a type by a string literal: a small cache keyed by the
    // text's address, checked against the name, saves hashing it each time.
    NameCacheEntry& slot = m_nameCache[(quintptr(name) >> 3) & 255];
    if (slot.key == name && std::strcmp(slot.type->Name().c_str(), name) == 0)
        return slot.type;
    Type* type = HasType(name);
    if (!type)
        throw TypeNotFoundException(name);
    slot.key = name;
    slot.type = type;
    return type;
}

Item* Data::CreateItem(Type* type, std::string_view value)
{
    return CreateItem(type, value, type->m_null ? 0 : ValueIndex::Hash(value));
}

Item* Data::CreateItem(Type* type, std::string_view value, quint64 hash)
{
    Item* item = m_pool.Create(type, m_nextSerial++, ItemText(value));
    type->m_items.AppendNewest(item);
    if (!type->m_null) {
        if (!type->m_index.Insert(item, hash))
            type->m_duplicates[std::string(value)].push_back(item);
    }
    ++m_itemCount;
    if (!type->itemAdded.Empty() || !itemAdded.Empty()) {
        DispatchScope scope(this);
        auto stop = [item] { return item->removing; };
        type->itemAdded.Dispatch(item, stop);
        itemAdded.Dispatch(item, stop);
    }
    return item;
}

// The pooled blocks of the texts among values that do not fit in their items;
// null for the others.
static constexpr size_t kTextSlice = 1024;

static void TextBlocks(const std::string_view* values, size_t count, void** blocks)
{
    size_t sizes[kTextSlice];
    void* made[kTextSlice];
    Q_ASSERT(count <= kTextSlice);
    size_t n = 0;
    for (size_t k = 0; k < count; ++k) {
        const size_t size = values[k].size();
        if (size > ItemText::kInline && size <= SmallBlocks::kMaxPooled)
            sizes[n++] = size;
    }
    SmallBlocks::AllocateMany(sizes, n, made);
    n = 0;
    for (size_t k = 0; k < count; ++k) {
        const size_t size = values[k].size();
        blocks[k] = size > ItemText::kInline && size <= SmallBlocks::kMaxPooled ? made[n++] : nullptr;
    }
}

void Data::CreateItems(Type* type, const std::string_view* values, size_t count, Item** out)
{
    if (!type->itemAdded.Empty() || !itemAdded.Empty()) {
        for (size_t k = 0; k < count; ++k)
            out[k] = CreateItem(type, type->m_null ? std::string_view() : values[k]);
        return;
    }
    if (type->m_null) {
        MakeNullItems(m_pool, type, TakeSerials(count), count, out);
        m_itemCount += count;
        return;
    }
    // Nobody hears of the items: they go in one pass, and the value index
    // slot of each is fetched a few items ahead of its insertion, which
    // otherwise is a cache miss per item in a big index.
    ValueIndex& index = type->m_index;
    index.Reserve(count);
    constexpr size_t kAhead = 8;
    quint64 hashes[kAhead];
    for (size_t k = 0; k < std::min(count, kAhead); ++k) {
        hashes[k] = ValueIndex::Hash(values[k]);
        index.Prefetch(hashes[k]);
    }
    // Texts too long to sit in their items get their blocks a slice at a
    // time, under one lock of the block pools.
    void* blocks[kTextSlice];
    for (size_t k = 0; k < count; ++k) {
        if (k % kTextSlice == 0)
            TextBlocks(values + k, std::min(kTextSlice, count - k), blocks);
        const quint64 hash = hashes[k % kAhead];
        if (k + kAhead < count) {
            hashes[k % kAhead] = ValueIndex::Hash(values[k + kAhead]);
            index.Prefetch(hashes[k % kAhead]);
        }
        void* block = blocks[k % kTextSlice];
        Item* item
            = m_pool.Create(type, m_nextSerial++, block ? ItemText(values[k], block) : ItemText(values[k]));
        type->m_items.AppendNewest(item);
        if (!index.Insert(item, hash))
            type->m_duplicates[std::string(values[k])].push_back(item);
        ++m_itemCount;
        out[k] = item;
    }
}

quint64 Data::TakeSerials(size_t count)
{
    const quint64 first = m_nextSerial;
    m_nextSerial += count;
    return first;
}

void Data::MakeNullItems(ItemPool<Item>& pool, Type* type, quint64 firstSerial, size_t count, Item** out)
{
    for (size_t k = 0; k < count; ++k) {
        Item* item = pool.Create(type, firstSerial + k, ItemText());
        type->m_items.AppendNewest(item);
        out[k] = item;
    }
}

void Data::AdoptItems(ItemPool<Item>& pool, size_t count)
{
    m_pool.Adopt(pool);
    m_itemCount += count;
}

bool Data::Connect(Item* x, Item* y)
{
    const RelationInfo* rel = x->type->GetRelation(y->type);
    if (!rel)
        throw NotRelatedException(x->type->Name(), y->type->Name());
    if (x->removing || y->removing)
        return false;
    if (rel->otherEnd == One || rel->thisEnd == One) {
        if (x->connections.Contains(y))
            return false;
        // Across a One end the previous partner goes first; the handlers of
        // its disconnection may remove either item or connect them.
        if (rel->otherEnd == One) {
            while (Item* old = x->connections.First(y->type)) {
                if (old == y)
                    break;
                Disconnect(x, old);
            }
        }
        if (rel->thisEnd == One) {
            while (Item* old = y->connections.First(x->type)) {
                if (old == x)
                    break;
                Disconnect(y, old);
            }
        }
        if (x->removing || y->removing)
            return false;
    }
    if (m_changeWatcher) {
        m_changeWatcher->BeforeChange(x);
        m_changeWatcher->BeforeChange(y);
    }
    // An insertion finds a connection already there as it looks for its
    // place, so none is looked up first.
    if (!x->connections.Insert(y))
        return false;
    y->connections.Insert(x);
    if (m_sweepWatcher)
        m_sweepWatcher->Connected(x, y);
    DispatchConnection(x, y, true);
    return true;
}

void Data::ConnectAll(const std::pair<Item*, Item*>* pairs, size_t count)
{
    // Each level of a partner's chain is fetched kStep pairs after the one
    // before, when that has arrived.
    constexpr size_t kStep = 8, kLevels = 5;
    auto fetch = [&](size_t k, size_t level) {
        if (k >= count)
            return;
        const auto& [x, y] = pairs[k];
        // An item of many pairs in a row (a file linked to its words) is
        // fetched for the first.
        const bool newX = k == 0 || pairs[k - 1].first != x;
        if (level == 0) {
            // An item may straddle two cache lines.
            if (newX) {
                __builtin_prefetch(x);
                __builtin_prefetch(reinterpret_cast<const char*>(x + 1) - 1);
            }
            __builtin_prefetch(y);
            __builtin_prefetch(reinterpret_cast<const char*>(y + 1) - 1);
        } else {
            if (level == 1 && newX)
                x->connections.PrefetchInsert(y->type, 0);
            y->connections.PrefetchInsert(x->type, int(level - 1));
        }
    };
    BeginBatch();
    for (size_t level = 0; level < kLevels; ++level) {
        for (size_t k = 0; k < kStep * (kLevels - level) && k < count; ++k)
            fetch(k, level);
    }
    for (size_t k = 0; k < count; ++k) {
        for (size_t level = 0; level < kLevels; ++level)
            fetch(k + kStep * (kLevels - level), level);
        Connect(pairs[k].first, pairs[k].second);
    }
    EndBatch();
}

bool Data::Disconnect(Item* x, Item* y)
{
    if (m_changeWatcher) {
        m_changeWatcher->BeforeChange(x);
        m_changeWatcher->BeforeChange(y);
    }
    if (!x->connections.Erase(y))
        return false;
    y->connections.Erase(x);
    DispatchConnection(x, y, false);
    return true;
}

size_t Data::DisconnectAll(Item* x, Type* type)
{
    std::vector<Item*> partners;
    partners.reserve(x->connections.Count(type));
    x->connections.ForEachOfType(type, [&](Item* p) { partners.push_back(p); });
    if (partners.empty())
        return 0;
    if (m_changeWatcher) {
        m_changeWatcher->BeforeChange(x);
        for (Item* p : partners)
            m_changeWatcher->BeforeChange(p);
    }
    x->connections.EraseType(type);
    for (Item* p : partners)
        p->connections.Erase(x);
    DispatchScope scope(this);
    for (Item* p : partners)
        if (!x->connections.Contains(p))
            DispatchConnection(x, p, false);
    return partners.size();
}

void Data::DispatchConnection(Item* x, Item* y, bool connect)
{
    Type* a = x->type;
    Type* b = y->type;
    Event<ConnectionInfo&>& ea = connect ? a->connected : a->disconnected;
    Event<ConnectionInfo&>& eb = connect ? b->connected : b->disconnected;
    Event<ConnectionInfo&>& es = connect ? connected : disconnected;
    bool pairs = connect && a->m_inPairHandler && b->m_inPairHandler
        && std::any_of(m_pairHandlers.begin(), m_pairHandlers.end(),
            [a, b](const PairHandler& h) { return (h.a == a && h.b == b) || (h.a == b && h.b == a); });
    bool paths = a->m_inPath && b->m_inPath;
    if (ea.Empty() && eb.Empty() && es.Empty() && !pairs && !paths)
        return;

    DispatchScope scope(this);
    // A connection event ends when a handler removed either item or undid the
    // connection. A disconnection is always told in full: both items stay
    // readable until the dispatch ends, also when one of them is being removed.
    auto stop
        = [x, y, connect] { return connect && (x->removing || y->removing || !x->connections.Contains(y)); };
    ConnectionInfo xy { x, y };
    ConnectionInfo yx { y, x };
    ea.Dispatch(xy, stop);
    if (a != b)
        eb.Dispatch(yx, stop);
    if (pairs) {
        std::vector<PairHandler> handlers(m_pairHandlers);
        for (auto& h : handlers) {
            if (h.handler->IsDead() || stop())
                continue;
            if (h.a == a && h.b == b)
                h.handler->Handle(xy);
            else if (h.a == b && h.b == a)
                h.handler->Handle(yx);
        }
    }
    es.Dispatch(xy, stop);
    if (paths && !stop())
        RunPaths(x, y, connect);
}

void Data::Remove(Item* item)
{
    if (item->removing)
        return;
    if (m_changeWatcher)
        m_changeWatcher->BeforeRemove(item);
    if (m_sweepWatcher)
        m_sweepWatcher->Removing(item);
    item->removing = true;
    Type* type = item->type;
    type->m_items.Erase(item);
    if (!type->m_null) {
        if (type->m_index.Erase(item)) {
            // Another item with the same value takes its place in the index.
            auto dup = type->m_duplicates.empty() ? type->m_duplicates.end()
                                                  : type->m_duplicates.find(item->value.str());
            if (dup != type->m_duplicates.end()) {
                type->m_index.Insert(dup->second.front());
                dup->second.erase(dup->second.begin());
                if (dup->second.empty())
                    type->m_duplicates.erase(dup);
            }
        } else if (!type->m_duplicates.empty()) {
            auto dup = type->m_duplicates.find(item->value.str());
            if (dup != type->m_duplicates.end()) {
                std::erase(dup->second, item);
                if (dup->second.empty())
                    type->m_duplicates.erase(dup);
            }
        }
    }
    if (type->m_globalNull == item)
        type->m_globalNull = nullptr;
    --m_itemCount;

    {
        DispatchScope scope(this);
        type->itemRemoved.Dispatch(item);
        itemRemoved.Dispatch(item);
        // Watches rooted at or fixed to this item end with it.
        auto fixed = m_fixedItems.find(item);
        if (fixed != m_fixedItems.end()) {
            for (Watch* w : fixed->second)
                w->dead = true;
            m_fixedItems.erase(fixed);
        }
        std::vector<Item*> partners;
        item->connections.ForEach([&](Item* p) { partners.push_back(p); });
        for (Item* p : partners)
            Disconnect(item, p);
        m_graveyard.push_back(item);
    }
}

void Data::EndDispatch()
{
    if (--m_dispatchDepth > 0 || m_graveyard.empty())
        return;
    std::vector<Item*> dead;
    dead.swap(m_graveyard);
    for (Item* item : dead)
        FreeItem(item);
}

void Data::FreeItem(Item* item)
{
    // A handler may have connected the item again while it was going.
    std::vector<Item*> partners;
    item->connections.ForEach([&](Item* p) { partners.push_back(p); });
    for (Item* p : partners) {
        if (m_changeWatcher)
            m_changeWatcher->BeforeChange(p);
        p->connections.Erase(item);
    }
    m_pool.Destroy(item);
}

void Data::AbandonSweep()
{
    if (SweepWatcher* watcher = std::exchange(m_sweepWatcher, nullptr))
        watcher->Abandon();
}

void Data::Clear()
{
    AbandonSweep();
    for (Type* t : m_types) {
        ItemSet items = t->GetItems();
        for (ItemPtr item : items)
            Remove(item.Get());
    }
}

ItemPtr Data::GetItem(const ItemSet& items, const char* type) const
{
    return GetItemSubset(items, type).First();
}

ItemPtr Data::GetItem(ItemPtr a, ItemPtr b, const char* type) const
{
    if (!a || !b)
        return ItemPtr();
    ItemSet both(a);
    both.Insert(b);
    return GetItemSubset(both, type).First();
}

ItemSet Data::GetItems(const ItemSet& items, const char* type) const
{
    return items.GetItems(type);
}

ItemSet Data::GetItemSubset(const ItemSet& items, const char* typeName) const
{
    ItemSet result;
    if (items.Empty())
        return result;
    Type* type = GetType(typeName);
    // Start from the member with the fewest partners of the type.
    Item* smallest = nullptr;
    size_t best = size_t(-1);
    for (ItemPtr m : items) {
        size_t n = m.Get()->connections.Count(type);
        if (n < best) {
            best = n;
            smallest = m.Get();
        }
        if (n == 0)
            return result;
    }
    smallest->connections.ForEachOfType(type, [&](Item* candidate) {
        for (ItemPtr m : items) {
            Item* member = m.Get();
            if (member == smallest)
                continue;
            // Ask whichever side holds fewer connections.
            bool linked = candidate->connections.EntryCount() <= member->connections.EntryCount()
                ? candidate->connections.Contains(member)
                : member->connections.Contains(candidate);
            if (!linked)
                return;
        }
        result.Insert(candidate);
    });
    return result;
}

quint32 Data::NewMarkEpoch()
{
    // Items keep 31 bits of the epoch; 0 is the mark of items never reached.
    m_markEpoch = (m_markEpoch + 1) & 0x7FFFFFFF;
    if (m_markEpoch == 0)
        m_markEpoch = 1;
    return m_markEpoch;
}

bool Data::Leads(const Type* from, const Type* to)
{
    const RelationInfo* rel = from->GetRelation(to);
    const bool owning = rel && rel->owns;
    if (to->IsOwned())
        return owning;
    // Attribute items are reached but lead nowhere, unless they own.
    return from->GetPrimacy() < kAttribute || owning;
}

size_t Data::RemoveDisconnectedItems()
{
    AbandonSweep();
    const quint32 epoch = NewMarkEpoch();
    std::vector<Item*> stack;
    auto reach = [&](Item* item) {
        if (item->mark != epoch) {
            item->mark = epoch;
            stack.push_back(item);
        }
    };
    for (Type* t : m_types)
        if (IsRoot(t))
            for (ChunkedSet::Position p; t->m_items.Valid(p); t->m_items.Advance(p))
                reach(t->m_items.At(p));
    while (!stack.empty()) {
        Item* item = stack.back();
        stack.pop_back();
        Type* from = item->type;
        item->connections.ForEach([&](Item* other) {
            if (other->mark != epoch && Leads(from, other->type))
                reach(other);
        });
    }
    std::vector<Item*> doomed;
    for (Type* t : m_types)
        for (ChunkedSet::Position p; t->m_items.Valid(p); t->m_items.Advance(p))
            if (t->m_items.At(p)->mark != epoch)
                doomed.push_back(t->m_items.At(p));
    {
        DispatchScope scope(this);
        for (Item* item : doomed)
            Remove(item);
    }
    return doomed.size();
}

void Data::AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler)
{
    m_pairHandlers.push_back({ a, b, HandlerRef<EventHandlerBase<ConnectionInfo&>>(handler) });
    a->m_inPairHandler = true;
    b->m_inPairHandler = true;
}

ItemSet i(const char* type, const Value& value)
{
    ItemSet set;
    set.Insert(d.GetType(type)->HasItem(value));
    return set;
}

ItemSet g(const char* type)
{
    return d.GetType(type)->GetItems();
}
