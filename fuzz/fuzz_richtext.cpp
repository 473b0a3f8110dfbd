// link: shell
// Markup from outside made safe, over any bytes: no crash, and what comes out
// nests no deeper than the bounds, closes every element it opens, stays within
// its length, never halves a character, stacks no more marks on one letter
// than the bound, and is laid out by the toolkit without trouble.
#include "HeapBudget.h"
#include "shell/RichTextBound.h"
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTextDocument>
#include <cstdint>
#include <cstdlib>

namespace {

// Checks the nesting of the rebuilt markup: its tags are only those it wrote
// (text holds no "<"), void elements aside.
bool NestsWithinBounds(const QString& html)
{
    static const QRegularExpression tag(QStringLiteral("<(/?)([a-z0-9]+)[^>]*>"));
    int depth = 0;
    int tables = 0;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        const QString name = match.captured(2);
        if (name == QLatin1String("br") || name == QLatin1String("hr"))
            continue;
        const int step = match.captured(1).isEmpty() ? 1 : -1;
        depth += step;
        if (name == QLatin1String("table"))
            tables += step;
        if (depth < 0 || depth > RichTextBound::kMaxDepth || tables > RichTextBound::kMaxTableDepth)
            return false;
    }
    return depth == 0;
}

// No run of more marks than the bound (those of one unit; a two-unit mark
// only ends a run here, so the check never counts too many).
bool StacksWithinBounds(const QString& html)
{
    int marks = 0;
    for (QChar c : html) {
        marks = c.isMark() ? marks + 1 : 0;
        if (marks > TextBound::kMaxMarks)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_richtext";
    static char* argv[] = { name, nullptr };
    if (!QGuiApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QGuiApplication(argc, argv);
    }
    // The bounded markup and its layout; the first layout also loads the
    // fonts.
    fuzz::HeapBudget budget(256 * size + (64 << 20), "fuzz_richtext");
    const QString markup = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString html = RichTextBound::Html(markup);
    if (!NestsWithinBounds(html) || html.size() > 16 * RichTextBound::kMaxText || !html.isValidUtf16()
        || !StacksWithinBounds(html))
        std::abort();
    QTextDocument document;
    document.setHtml(html);
    document.setTextWidth(600);
    document.size();
    return 0;
}
