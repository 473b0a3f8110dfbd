// Window geometry, column widths and splitter sizes survive a restart through
// the data file; widgets under one name follow each other; a stored geometry
// that is unusable or off every screen is not applied as it is.
#include "DataSaver.h"
#include "ResizableWindow.h"
#include "SizeManager.h"
#include "helper_kit.h"
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTreeWidget>

namespace {
// A window as the size manager sees it; the test plays the user's moves.
class FakeWindow : public ResizableWindow {
public:
    explicit FakeWindow(QRect r)
        : geometry(r)
    {
    }
    int GetX() override { return geometry.x(); }
    int GetY() override { return geometry.y(); }
    int GetWidth() override { return geometry.width(); }
    int GetHeight() override { return geometry.height(); }
    void SetPosition(int x, int y) override { geometry.moveTopLeft({ x, y }); }
    void SetSize(int width, int height) override { geometry.setSize({ width, height }); }
    void UserMoves(QRect r)
    {
        geometry = r;
        emit WindowMoved(r.x(), r.y());
        emit WindowResized(r.width(), r.height());
    }
    QRect geometry;
};

QTreeWidget* NewTree(int columns)
{
    auto* tree = new QTreeWidget;
    tree->setColumnCount(columns);
    for (int c = 0; c < columns; ++c)
        tree->header()->resizeSection(c, 60);
    return tree;
}
}

class TestSizeManager : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void layoutSurvivesRestart();
    void unusableGeometryIsNotApplied();

private:
    void Restart();

    QTemporaryDir m_dir;
    QString m_path;
    DataSaver* m_saver = nullptr;
    SizeManager* m_manager = nullptr;
};

void TestSizeManager::initTestCase()
{
    PrepareKit();
    m_saver = new DataSaver;
    m_manager = new SizeManager;
    m_path = m_dir.filePath("data");
}

// Saves, empties the store and loads the file again, as a new run would.
void TestSizeManager::Restart()
{
    m_saver->Save(m_path);
    d.Clear();
    m_saver->Load(m_path);
}

void TestSizeManager::layoutSurvivesRestart()
{
    {
        FakeWindow window(QRect(10, 20, 400, 300));
        m_manager->RegisterResizableWindow("main_window", &window);
        QCOMPARE(window.geometry, QRect(10, 20, 400, 300)); // nothing stored: kept
        window.UserMoves(QRect(15, 25, 410, 310));
        window.UserMoves(QRect(30, 40, 500, 350));
        // Only the final value items remain after a drag.
        QCOMPARE(d.GetType("sizer_width")->Count(), size_t(1));
        QCOMPARE(d.GetType("sizer_x")->Count(), size_t(1));

        // Two room user lists share one layout; the last column stretches and
        // is not stored.
        std::unique_ptr<QTreeWidget> first(NewTree(3));
        std::unique_ptr<QTreeWidget> second(NewTree(3));
        m_manager->RegisterTreeWidget("room_user_list", first.get());
        first->header()->resizeSection(0, 150);
        m_manager->RegisterTreeWidget("room_user_list", second.get());
        QCOMPARE(second->header()->sectionSize(0), 150);
        second->header()->resizeSection(1, 90);
        QCOMPARE(first->header()->sectionSize(1), 90);
        QCOMPARE(d.GetType("sizer_tree_column")->Count(), size_t(2));

        // Defaults of a new splitter are what the next run opens with.
        QSplitter splitter;
        splitter.addWidget(new QWidget);
        splitter.addWidget(new QWidget);
        m_manager->RegisterSplitter("room_splitter", &splitter, { 100, 300 });
        QSplitter moved;
        moved.addWidget(new QWidget);
        moved.addWidget(new QWidget);
        moved.resize(400 + moved.handleWidth(), 50);
        moved.show();
        m_manager->RegisterSplitter("room_list_splitter", &moved, {});
        moved.setSizes({ 120, 280 });
        QMetaObject::invokeMethod(&moved, "splitterMoved", Q_ARG(int, 120), Q_ARG(int, 1));
    }
    // The widgets are gone; their run-time items went with them.
    QCOMPARE(d.GetType("sizer_tree_widget")->Count(), size_t(0));
    QCOMPARE(d.GetType("sizer_splitter_widget")->Count(), size_t(0));

    Restart();

    FakeWindow window(QRect(0, 0, 200, 100));
    m_manager->RegisterResizableWindow("main_window", &window);
    QCOMPARE(window.geometry, QRect(30, 40, 500, 350));

    // A tree with fewer columns than stored takes what exists.
    std::unique_ptr<QTreeWidget> narrow(NewTree(2));
    narrow->header()->setStretchLastSection(false);
    m_manager->RegisterTreeWidget("room_user_list", narrow.get());
    QCOMPARE(narrow->header()->sectionSize(0), 150);
    QCOMPARE(narrow->header()->sectionSize(1), 90);

    for (auto [name, expected] : { std::pair { "room_splitter", QList<int> { 100, 300 } },
             std::pair { "room_list_splitter", QList<int> { 120, 280 } } }) {
        QSplitter splitter;
        splitter.addWidget(new QWidget);
        splitter.addWidget(new QWidget);
        splitter.resize(400 + splitter.handleWidth(), 50);
        splitter.show();
        m_manager->RegisterSplitter(name, &splitter, {});
        QCOMPARE(splitter.sizes(), expected);
    }
}

void TestSizeManager::unusableGeometryIsNotApplied()
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    auto store = [](const char* name, QRect r) {
        ItemPtr item = d.GetType("sizer_window")->GetItem(name);
        item += d.GetType("sizer_x")->GetItem(r.x());
        item += d.GetType("sizer_y")->GetItem(r.y());
        item += d.GetType("sizer_width")->GetItem(r.width());
        item += d.GetType("sizer_height")->GetItem(r.height());
    };

    store("broken", QRect(10, 10, 0, 300));
    FakeWindow broken(QRect(5, 6, 320, 240));
    m_manager->RegisterResizableWindow("broken", &broken);
    QCOMPARE(broken.geometry, QRect(5, 6, 320, 240));

    // Stored on a monitor that is gone, and larger than this screen.
    store("far", QRect(screen.right() + 2000, screen.bottom() + 1000, screen.width() + 500, 200));
    FakeWindow far(QRect(0, 0, 100, 100));
    m_manager->RegisterResizableWindow("far", &far);
    QVERIFY2(screen.contains(far.geometry), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(far.geometry.x())
                                                        .arg(far.geometry.y()).arg(far.geometry.width())
                                                        .arg(far.geometry.height())));
    QCOMPARE(far.geometry.width(), screen.width());
    QCOMPARE(far.geometry.height(), 200);

    // A window that fits on the screen is restored exactly.
    store("fits", QRect(screen.x() + 3, screen.y() + 4, 50, 60));
    FakeWindow fits(QRect(0, 0, 100, 100));
    m_manager->RegisterResizableWindow("fits", &fits);
    QCOMPARE(fits.geometry, QRect(screen.x() + 3, screen.y() + 4, 50, 60));
}

QTEST_MAIN(TestSizeManager)
#include "tst_sizemanager.moc"
