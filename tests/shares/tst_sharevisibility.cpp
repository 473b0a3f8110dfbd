// Who sees which shared folder: strangers, user-list members, group members,
// unshared users, and folders reached through two shared roots.
#include "helper_shares.h"
#include "store/Data.h"
#include <QTest>

namespace {
ItemPtr Get(const char* name, const Value& value)
{
    return d.GetType(name)->GetItem(value);
}
ItemPtr Flag(const char* name)
{
    return d.GetType(name)->NewItem();
}
QStringList Values(const ItemSet& items)
{
    QStringList values;
    for (ItemPtr item : items)
        values << item.AsString();
    values.sort();
    return values;
}
}

class TestShareVisibility : public QObject {
    Q_OBJECT
    SharedFoldersManager* manager = nullptr;
    ItemPtr files[4]; // in the public, user-list, group and unmarked folders

    ItemPtr Shared(const char* root, const char* sub)
    {
        ItemPtr shared = Get("shared_folder", root);
        ItemPtr folder = Get("shared_file_folder", std::string(root) + "/" + sub);
        shared += folder;
        ItemPtr file = d.GetType("shared_file")->NewItem();
        file += folder;
        file += Get("shared_file_name", "f.txt");
        return file;
    }
    void MakeMember(const char* user, const char* group)
    {
        ItemPtr inList = Flag("in_user_list");
        Get("user", user) += inList;
        if (group)
            inList += Get("user_list_group", group);
    }

private slots:
    void initTestCase() { manager = MakeShareManager(); }
    void cleanupTestCase() { delete manager; }
    void init()
    {
        d.Clear();
        files[0] = Shared("/pub", "a");
        files[1] = Shared("/list", "b");
        files[2] = Shared("/group", "c");
        files[3] = Shared("/none", "d");
        Get("shared_folder", "/pub") += Flag("shared_public");
        Get("shared_folder", "/list") += Flag("shared_userlist");
        Get("shared_folder", "/group") += Get("user_list_group", "friends");
        MakeMember("listed", nullptr);
        MakeMember("friend", "friends");
        MakeMember("other", "others");
    }

    void rules()
    {
        QCOMPARE(Values(manager->GetUserSharedFolders("stranger")), QStringList { "/pub" });
        QCOMPARE(Values(manager->GetUserSharedFolders("listed")), (QStringList { "/list", "/pub" }));
        QCOMPARE(Values(manager->GetUserSharedFolders("other")), (QStringList { "/list", "/pub" }));
        QCOMPARE(
            Values(manager->GetUserSharedFolders("friend")), (QStringList { "/group", "/list", "/pub" }));
        // Names are compared exactly.
        QCOMPARE(Values(manager->GetUserSharedFolders("Friend")), QStringList { "/pub" });

        const bool expected[4][4] = {
            { true, false, false, false }, // stranger
            { true, true, false, false }, // listed
            { true, true, true, false }, // friend
            { true, true, false, false }, // other
        };
        const char* users[4] = { "stranger", "listed", "friend", "other" };
        for (int u = 0; u < 4; ++u) {
            for (int f = 0; f < 4; ++f)
                QVERIFY2(manager->IsFileSharedWithUser(files[f], users[u]) == expected[u][f], users[u]);
        }
        // Asking about a stranger makes the user known, still a stranger.
        QVERIFY(d.GetType("user")->HasItem(Value("stranger")));
    }

    void unsharedSeesNothing()
    {
        Get("user", "friend") += d.GetType("unshared")->NewItem();
        QVERIFY(manager->GetUserSharedFolders("friend").Empty());
        for (ItemPtr file : files)
            QVERIFY(!manager->IsFileSharedWithUser(file, "friend"));
    }

    void folderUnderTwoRoots()
    {
        // The group folder's sub-folder is also reached from a public root.
        ItemPtr outer = Get("shared_folder", "/outer");
        outer += Flag("shared_public");
        outer += files[2]["shared_file_folder"];
        QVERIFY(manager->IsFileSharedWithUser(files[2], "stranger"));
        // A file without a folder is seen by nobody.
        ItemPtr loose = d.GetType("shared_file")->NewItem();
        QVERIFY(!manager->IsFileSharedWithUser(loose, "friend"));
    }

    void browsedShareIsDropped()
    {
        // A browsed share: two folders, parent and child, with a file each.
        ItemPtr share = d.GetType("user_share")->NewItem();
        share += Get("user", "friend");
        ItemPtr top = d.GetType("user_share_folder")->NewItem();
        ItemPtr sub = d.GetType("user_share_folder")->NewItem();
        share += top;
        share += sub;
        top += Get("user_share_folder_name", "Music");
        sub += Get("user_share_folder_name", "Live");
        ItemPtr parent = d.GetType("user_share_folder_parent")->NewItem();
        ItemPtr child = d.GetType("user_share_folder_child")->NewItem();
        sub += parent;
        top += child;
        parent += child;
        for (ItemPtr folder : { top, sub }) {
            ItemPtr file = d.GetType("user_share_file")->NewItem();
            folder += file;
            file += Get("user_share_file_name", "x.mp3");
            file += Get("file_size", "12");
        }
        manager->RemoveUserShare("nobody"); // no such user: nothing happens
        manager->RemoveUserShare("stranger"); // no browsed share: nothing happens
        QCOMPARE(d.GetType("user_share_file")->Count(), size_t(2));
        manager->RemoveUserShare("friend");
        for (const char* type :
            { "user_share", "user_share_folder", "user_share_file", "user_share_folder_parent",
                "user_share_folder_child", "user_share_file_name", "user_share_folder_name" })
            QVERIFY2(d.GetType(type)->Count() == 0, type);
        // The user and the own share stay.
        QVERIFY(d.GetType("user")->HasItem(Value("friend")));
        QCOMPARE(d.GetType("shared_file")->Count(), size_t(4));
    }
};

QTEST_GUILESS_MAIN(TestShareVisibility)
#include "tst_sharevisibility.moc"
