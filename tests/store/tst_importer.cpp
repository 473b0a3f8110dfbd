// Import of the older client's user list ("hotlist.cfg").
#include "store/ConfigurationImporter.h"
#include "store/Data.h"
#include <QtEndian>
#include <QtTest>

namespace {
// The user types that the server connection declares in the program.
void DeclareUserTypes()
{
    if (d.HasType("user"))
        return;
    Type* user = d.NewType("user", kEntity, false, true);
    Type* listed = d.NewType("in_user_list", kAttribute, true, false);
    user->RelateToType(listed, One, One);
}

void AppendUInt32(QByteArray& out, quint32 n)
{
    char bytes[4];
    qToLittleEndian(n, bytes);
    out.append(bytes, 4);
}

QByteArray UserList(const QList<QByteArray>& names)
{
    QByteArray out;
    AppendUInt32(out, quint32(names.size()));
    for (const QByteArray& name : names) {
        AppendUInt32(out, quint32(name.size()));
        out += name;
    }
    return out;
}

size_t ListedCount()
{
    return d.GetType("in_user_list")->Count();
}
size_t UserCount()
{
    return d.GetType("user")->Count();
}
}

class TestImporter : public QObject {
    Q_OBJECT

private slots:
    void init();
    void refusedWithoutUserTypes();
    void importsEveryName();
    void truncatedFileAddsNoUser();
    void limits();
    void missingOrUnreadableFile();

private:
    QString Write(const QByteArray& bytes);
    QTemporaryDir m_dir;
    int m_files = 0;
};

void TestImporter::init()
{
    if (d.HasType("user"))
        d.Clear();
}

QString TestImporter::Write(const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("hotlist%1.cfg").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestImporter::refusedWithoutUserTypes()
{
    QVERIFY(!d.HasType("user"));
    QVERIFY(!ConfigurationImporter::ImportUserList(Write(UserList({ "alice" }))));
    DeclareUserTypes();
}

void TestImporter::importsEveryName()
{
    DeclareUserTypes();
    ItemPtr bob = d.GetType("user")->GetItem("bob");
    ItemPtr bobFlag = bob.NewItem("in_user_list");
    ItemPtr carol = d.GetType("user")->GetItem("carol");

    // Names are 8-bit text as the file holds them; a repeated name and bytes
    // after the list do no harm.
    QByteArray file = UserList({ "alice", "bob", "\xC3\xA9mile", "alice", "Z\xE9ro" });
    file += "trailing";
    QVERIFY(ConfigurationImporter::ImportUserList(Write(file)));

    for (const char* name : { "alice", "bob", "\xC3\xA9mile", "Z\xE9ro" }) {
        ItemPtr user = d.GetType("user")->HasItem(name);
        QVERIFY2(user, name);
        QVERIFY2(user.IsConnected("in_user_list"), name);
    }
    QCOMPARE(ItemPtr(d.GetType("user")->HasItem("bob"))["in_user_list"], bobFlag);
    QVERIFY(!carol.IsConnected("in_user_list"));
    QCOMPARE(UserCount(), size_t(5));
    QCOMPARE(ListedCount(), size_t(4));

    // An empty list is a good file that adds nobody; an empty name names nobody.
    QVERIFY(ConfigurationImporter::ImportUserList(Write(UserList({}))));
    QVERIFY(ConfigurationImporter::ImportUserList(Write(UserList({ "", "dave" }))));
    QVERIFY(!d.GetType("user")->HasItem(""));
    QVERIFY(ItemPtr(d.GetType("user")->HasItem("dave")).IsConnected("in_user_list"));
}

void TestImporter::truncatedFileAddsNoUser()
{
    DeclareUserTypes();
    const QByteArray file = UserList({ "alice", "bob", "carol" });
    // Every cut of the file, from empty to one byte short of the last name.
    for (qsizetype cut = 0; cut < file.size(); ++cut) {
        QVERIFY2(
            !ConfigurationImporter::ImportUserList(Write(file.left(cut))), qPrintable(QString::number(cut)));
        QCOMPARE(UserCount(), size_t(0));
        QCOMPARE(ListedCount(), size_t(0));
    }
    // A count far above the names that follow.
    QByteArray hostile;
    AppendUInt32(hostile, 131072);
    hostile += UserList({ "alice" }).mid(4);
    QVERIFY(!ConfigurationImporter::ImportUserList(Write(hostile)));
    QCOMPARE(UserCount(), size_t(0));
}

void TestImporter::limits()
{
    DeclareUserTypes();
    // A count of 131073 is refused before any name is read.
    QByteArray tooMany;
    AppendUInt32(tooMany, 131073);
    for (int n = 0; n < 4; ++n)
        tooMany += UserList({ "x" }).mid(4);
    QVERIFY(!ConfigurationImporter::ImportUserList(Write(tooMany)));
    QCOMPARE(UserCount(), size_t(0));

    // A name of 131073 bytes is refused, even with its bytes present.
    QVERIFY(!ConfigurationImporter::ImportUserList(Write(UserList({ "ok", QByteArray(131073, 'n') }))));
    QCOMPARE(UserCount(), size_t(0));

    // 131072 of each is allowed.
    QVERIFY(ConfigurationImporter::ImportUserList(Write(UserList({ QByteArray(131072, 'n') }))));
    QVERIFY(d.GetType("user")->HasItem(std::string(131072, 'n')));
    QList<QByteArray> names;
    for (int n = 0; n < 131072; ++n)
        names.append(QByteArray::number(n % 1000));
    QVERIFY(ConfigurationImporter::ImportUserList(Write(UserList(names))));
    QCOMPARE(UserCount(), size_t(1001));
    QCOMPARE(ListedCount(), size_t(1001));
}

void TestImporter::missingOrUnreadableFile()
{
    DeclareUserTypes();
    QVERIFY(!ConfigurationImporter::ImportUserList(m_dir.filePath(QStringLiteral("absent.cfg"))));
    QVERIFY(!ConfigurationImporter::ImportUserList(QString()));
    QVERIFY(!ConfigurationImporter::ImportUserList(m_dir.path()));
    QCOMPARE(UserCount(), size_t(0));
}

QTEST_GUILESS_MAIN(TestImporter)
#include "tst_importer.moc"
