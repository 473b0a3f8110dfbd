#include "Kit.h"
#include "Data.h"
#include "RichTextBound.h"
#include "Settings.h"
#include "TextBound.h"
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHash>
#include <QIcon>
#include <QMainWindow>
#include <QtGlobal>
#include <algorithm>

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

const QIcon& KitIcon(const QString& path)
{
    static QHash<QString, QIcon> icons;
    auto icon = icons.find(path);
    if (icon == icons.end())
        icon = icons.insert(path, QIcon(path));
    return *icon;
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

static bool SteersDirection(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// Everything that ends a line or a paragraph, for the layout or for the
// direction of the text after it.
static bool BreaksLine(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || (u >= 0x1C && u <= 0x1E) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

static QString Isolated(const QString& text, bool oneLine)
{
    constexpr char16_t firstStrongIsolate = 0x2068;
    constexpr char16_t popIsolate = 0x2069;
    const auto hidden = [oneLine](QChar c) { return SteersDirection(c) || (oneLine && BreaksLine(c)); };
    // Text made safe already (a name that went through here on its way to an
    // event button, say) keeps its own isolate marks instead of having them
    // shown as U+FFFD.
    const bool made = text.size() >= 2 && text.front() == QChar(firstStrongIsolate)
        && text.back() == QChar(popIsolate)
        && std::none_of(text.begin() + 1, text.end() - 1, SteersDirection);
    if (made && std::none_of(text.begin() + 1, text.end() - 1, hidden))
        return text;
    const QStringView inner = made ? QStringView(text).mid(1, text.size() - 2) : QStringView(text);
    QString shown;
    shown.reserve(inner.size() + 2);
    shown += QChar(firstStrongIsolate);
    for (QChar c : inner)
        shown += hidden(c) ? QChar(QChar::ReplacementCharacter) : c;
    shown += QChar(popIsolate);
    return shown;
}

QString IsolatedText(const QString& text)
{
    return Isolated(text, true);
}

QString IsolatedLines(const QString& text)
{
    return Isolated(text, false);
}

QString RowName(const QString& name, int maxLength)
{
    return IsolatedText(TextBound::Shown(name, maxLength));
}

QString ElidedLabel(const QString& text, const QFontMetrics& metrics)
{
    // The ends are kept and the middle cut before anything is measured, so
    // measuring a name of any length costs no more than a few hundred
    // characters.
    constexpr qsizetype kept = 160;
    QString cut = text;
    if (text.size() > 2 * kept + 1) {
        qsizetype head = kept;
        if (text[head - 1].isHighSurrogate())
            --head;
        qsizetype tail = text.size() - kept;
        if (text[tail].isLowSurrogate())
            ++tail;
        cut = text.left(head) + QChar(0x2026) + text.mid(tail);
    }
    // Marks stacked on a letter cost the measuring far more than their count.
    cut = TextBound::Shown(cut);
    return metrics.elidedText(cut, Qt::ElideMiddle, kMaxLabelChars * metrics.averageCharWidth());
}

QString PlainToolTip(const QString& text)
{
    return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>")
        .arg(RichTextBound::Plain(text).toHtmlEscaped());
}

QDialogButtonBox* PlacedOkCancelBox(QDialog* dialog, const QRect& geometry)
{
    auto* box = PlacedWidget<QDialogButtonBox>(dialog, "buttonBox", geometry);
    box->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

QString ChooserStart(const QString& chosen)
{
    if (!chosen.isEmpty()) {
        const QFileInfo info(chosen);
        if (info.isDir())
            return info.absoluteFilePath();
        if (info.absoluteDir().exists())
            return info.absolutePath();
    }
    return QDir::homePath();
}
