#pragma once
// One step of a watched path: from every item of a type, or from one item,
// through related types. The root owns its steps.
#include "ItemPtr.h"
#include <vector>

class Data;
class Type;

enum PathNodeRelation {
    PathConnected, // a condition, and its connection triggers the watch
    PathConnectTrigger, // its connection triggers the watch; no condition
    PathNotConnected, // a condition (no such partner), and its disconnection triggers
    PathDisconnectTrigger, // its disconnection triggers the watch; no condition
};

class PathNode {
public:
    PathNode(Data* data, const char* type);
    explicit PathNode(ItemPtr item);
    PathNode(PathNode* parent, const char* type, PathNodeRelation relation);
    PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation);
    ~PathNode();
    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;

    Type* GetType() const { return m_type; }
    Item* FixedItem() const { return m_item; }
    PathNode* Parent() const { return m_parent; }
    PathNodeRelation Relation() const { return m_relation; }
    const std::vector<PathNode*>& Children() const { return m_children; }
    bool Matches(const Item* item) const;

private:
    Type* m_type = nullptr;
    Item* m_item = nullptr;
    PathNode* m_parent = nullptr;
    PathNodeRelation m_relation = PathConnected;
    std::vector<PathNode*> m_children;
};
