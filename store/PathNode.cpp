#include "PathNode.h"
#include "Data.h"

PathNode::PathNode(Data* data, const char* type)
    : m_type(data->GetType(type))
{
}

PathNode::PathNode(ItemPtr item)
    : m_type(item.GetType())
    , m_item(item.Get())
{
}

PathNode::PathNode(PathNode* parent, const char* type, PathNodeRelation relation)
    : m_type(parent->m_type->GetData()->GetType(type))
    , m_parent(parent)
    , m_relation(relation)
{
    parent->m_children.push_back(this);
}

PathNode::PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation)
    : m_type(item.GetType())
    , m_item(item.Get())
    , m_parent(parent)
    , m_relation(relation)
{
    parent->m_children.push_back(this);
}

PathNode::~PathNode()
{
    for (PathNode* child : m_children)
        delete child;
}

bool PathNode::Matches(const Item* item) const
{
    return item->type == m_type && (!m_item || m_item == item);
}
