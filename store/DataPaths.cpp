// Watched paths: a tree of steps from a root type (or item) through related
// types. A connection or disconnection between two items whose types form an
// edge of the tree triggers the watch when that edge's step triggers on it; the
// handler then gets every root item from which the whole tree's conditions hold.
#include "Data.h"

quint64 Data::PairKey(const Type* a, const Type* b)
{
    quint32 lo = std::min(a->Ordinal(), b->Ordinal());
    quint32 hi = std::max(a->Ordinal(), b->Ordinal());
    return (quint64(hi) << 32) | lo;
}

void Data::AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler)
{
    auto watch = std::make_unique<Watch>();
    watch->root.reset(root);
    watch->handler = HandlerRef<EventHandlerBase<ItemPtr>>(handler);
    IndexPath(watch.get(), root);
    m_watches.push_back(std::move(watch));
}

void Data::IndexPath(Watch* watch, PathNode* node)
{
    if (node->FixedItem())
        m_fixedItems[node->FixedItem()].push_back(watch);
    for (PathNode* child : node->Children()) {
        m_pathEdges[PairKey(node->GetType(), child->GetType())].push_back({ watch, child });
        node->GetType()->m_inPath = true;
        child->GetType()->m_inPath = true;
        IndexPath(watch, child);
    }
}

void Data::RunPaths(Item* x, Item* y, bool connect)
{
    auto found = m_pathEdges.find(PairKey(x->type, y->type));
    if (found == m_pathEdges.end())
        return;
    std::vector<PathEdge> edges(found->second);
    for (const PathEdge& edge : edges) {
        Watch* watch = edge.watch;
        if (watch->dead || watch->handler->IsDead())
            continue;
        PathNodeRelation rel = edge.node->Relation();
        bool triggers = connect ? (rel == PathConnected || rel == PathConnectTrigger)
                                : (rel == PathNotConnected || rel == PathDisconnectTrigger);
        if (!triggers)
            continue;
        PathNode* parent = edge.node->Parent();
        // Either item may play the parent step (both, when the types are equal).
        if (parent->Matches(x) && edge.node->Matches(y))
            FireWatch(watch, parent, x);
        if (x != y && parent->Matches(y) && edge.node->Matches(x))
            FireWatch(watch, parent, y);
    }
}

void Data::FireWatch(Watch* watch, PathNode* step, Item* item)
{
    // Walk up from the triggering step to the root, collecting the items that
    // lead to it.
    std::vector<Item*> current { item };
    while (step->Parent()) {
        PathNode* up = step->Parent();
        std::vector<Item*> next;
        for (Item* c : current) {
            if (up->FixedItem()) {
                if (c->connections.Contains(up->FixedItem()))
                    next.push_back(up->FixedItem());
            } else {
                c->connections.ForEachOfType(up->GetType(), [&](Item* p) { next.push_back(p); });
            }
        }
        std::sort(next.begin(), next.end());
        next.erase(std::unique(next.begin(), next.end()), next.end());
        current.swap(next);
        step = up;
    }
    std::sort(current.begin(), current.end(), [](Item* a, Item* b) { return a->serial < b->serial; });
    for (Item* root : current) {
        if (watch->dead || watch->handler->IsDead())
            return;
        if (root->removing || !step->Matches(root) || !Evaluate(step, root))
            continue;
        watch->handler->Handle(ItemPtr(root));
    }
}

bool Data::Evaluate(const PathNode* node, Item* item) const
{
    for (const PathNode* child : node->Children()) {
        PathNodeRelation rel = child->Relation();
        if (rel == PathConnectTrigger || rel == PathDisconnectTrigger)
            continue;
        bool any = false;
        if (child->FixedItem()) {
            any = item->connections.Contains(child->FixedItem()) && Evaluate(child, child->FixedItem());
        } else {
            const PathNode* c = child;
            item->connections.ForEachOfType(child->GetType(), [&](Item* partner) {
                if (!any && Evaluate(c, partner))
                    any = true;
            });
        }
        if (rel == PathConnected && !any)
            return false;
        if (rel == PathNotConnected && any)
            return false;
    }
    return true;
}
