#pragma once
// Markup from outside (a peer's description, the server's messages) made safe
// to lay out. The toolkit's own HTML reader and text layout cost more than
// several times as much for each level of nested tables, and overflow the
// stack on thousands of levels; a few hundred small formatting runs already
// take a noticeable time. So the markup is never handed over as it came: it is
// read here with a small tokenizer and written anew from an allow-list of
// elements and attributes, with bounded nesting, a bounded number of elements
// and a bounded length of text.
//
// What stays: bold, italics, underline and strike-through, colours and font
// sizes, line breaks, paragraphs and headings with their alignment, http and
// https links, and a little structure (lists, tables, block quotes, preformatted
// text) within the bounds. What goes: pictures, style sheets, scripts, forms,
// frames, links to anything but the web, and every attribute not listed. An
// element beyond a bound is dropped and its text is shown without it; the
// text is bounded as any text from outside (TextBound), in preformatted text
// too, which wraps its long lines. Every run of text can be direction-isolated
// (IsolatedLines), so that no control in it reorders what stands around it.
#include "TextBound.h"
#include <QString>

class QTextEdit;

class RichTextBound {
public:
    // Elements open at one time; tables within tables; lists within lists.
    static constexpr int kMaxDepth = 12;
    static constexpr int kMaxTableDepth = 2;
    static constexpr int kMaxListDepth = 4;
    // Elements kept in all, line breaks apart, and line breaks kept.
    static constexpr int kMaxElements = 300;
    static constexpr int kMaxBreaks = 4096;
    // Characters of text kept; more is cut and ends in an ellipsis. The text
    // is bounded as every text from outside is (TextBound).
    static constexpr int kMaxText = TextBound::kMaxLength;

    // How runs of text are written: direction-isolated (for what peers and
    // the server write) or as they came.
    enum Runs { Isolated, AsSent };

    // The markup as it may be shown. GUI thread only.
    static QString Html(const QString& markup, Runs runs = Isolated);
    // Plain text from outside, cut to the same length, long words breakable.
    static QString Plain(const QString& text);
    // Shows text as QTextEdit::setText would (as rich text when it looks like
    // markup, else as plain text), bounded as above.
    static void SetText(QTextEdit* edit, const QString& text, Runs runs = Isolated);
};
