// Headers every test uses, on top of its layer's.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
