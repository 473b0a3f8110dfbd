#include "LiveItemSet.h"

LiveItemSet::LiveItemSet(const char* type, const ItemSet& items)
    : m_items(items)
{
    Subscribe(d.GetType(type)->itemRemoved, &LiveItemSet::OnRemoved);
}

ItemPtr LiveItemSet::TakeFirst()
{
    ItemPtr first = m_items.First();
    if (first)
        m_items.Erase(first);
    return first;
}

void LiveItemSet::OnRemoved(ItemPtr item)
{
    m_items.Erase(item);
}
