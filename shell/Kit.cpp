#include "Kit.h"
#include "Data.h"
#include "Settings.h"
#include <QDialog>
#include <QDialogButtonBox>
#include <QMainWindow>
#include <QtGlobal>

QMainWindow* mainWindow = nullptr;
ActionSetToolBar* actionBar = nullptr;
EventToolBar* eventToolBar = nullptr;
SizeManager* sizeManager = nullptr;
bool g_showIsOver = false;
bool g_dataLoaded = false;
QPalette defaultPalette;

static void InitIconResource()
{
    // Outside every namespace, as the resource initialiser needs.
    Q_INIT_RESOURCE(shell_icons);
}

void InitShellResources()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    InitIconResource();
}

QString SettingText(const char* key)
{
    if (!d.HasType("global"))
        return QString();
    return settings.Get(key);
}

std::string AddressText(const void* object)
{
    return std::to_string(static_cast<unsigned long long>(reinterpret_cast<quintptr>(object)));
}

QString PlainLabel(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString IsolatedText(const QString& text)
{
    QString shown;
    shown.reserve(text.size() + 2);
    shown += QChar(0x2068); // first strong isolate
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool steers = (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
        shown += steers ? QChar(QChar::ReplacementCharacter) : c;
    }
    shown += QChar(0x2069); // pop directional isolate
    return shown;
}


QDialogButtonBox* PlacedOkCancelBox(QDialog* dialog, const QRect& geometry)
{
    auto* box = PlacedWidget<QDialogButtonBox>(dialog, "buttonBox", geometry);
    box->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}
