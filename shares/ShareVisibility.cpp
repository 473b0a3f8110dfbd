// Who may see which shared folder: everybody (shared_public), the users of the
// own user list (shared_userlist), or the members of chosen user-list groups;
// a user linked to unshared sees nothing.
#include "SharedFoldersManager.h"
#include "store/Data.h"

ItemSet SharedFoldersManager::GetUserSharedFolders(const QString& user) const
{
    ItemPtr userItem = m_userType->HasItem(Value(user));
    if (userItem.IsConnected("unshared"))
        return ItemSet();
    ItemSet result = d.GetType("shared_public")->GetItems().GetItems("shared_folder");
    ItemPtr inList = userItem["in_user_list"];
    if (!inList)
        return result;
    result.Add(d.GetType("shared_userlist")->GetItems().GetItems("shared_folder"));
    for (ItemPtr group : inList.GetItems("user_list_group"))
        result.Add(group.GetItems(m_sharedFolderType));
    return result;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr file, const QString& user) const
{
    ItemPtr userItem = m_userType->GetItem(Value(user));
    if (userItem.IsConnected("unshared"))
        return false;
    const ItemSet roots = file[m_folderType].GetItems(m_sharedFolderType);
    for (ItemPtr root : roots) {
        if (root.IsConnected("shared_public"))
            return true;
    }
    ItemPtr inList = userItem["in_user_list"];
    if (!inList)
        return false;
    for (ItemPtr root : roots) {
        if (root.IsConnected("shared_userlist"))
            return true;
    }
    ItemSet groups = inList.GetItems("user_list_group");
    groups.Intersect(roots.GetItems("user_list_group"));
    return !groups.Empty();
}
