#pragma once
// A picture from outside (a peer's, the server's), decoded off the GUI thread
// within bounds. The bytes are already bounded by whoever received them; here
// the size the picture's header claims is checked before any pixel is read,
// because a reader asked for a small copy may still unpack every row of the
// original (PNG does): a few megabytes of a repeated row can claim a billion
// pixels. What passes is read at most at the size it is shown.
//
// Decoding runs on one worker thread of its own, so at most one picture is
// being unpacked at any time, and results come back in the order asked. A
// future cancelled by its asker (a tab closed) is skipped if it has not begun
// and stops at its next read if it has: a closed tab's picture delays neither
// the next picture nor the quit. Nothing a picture does on the worker (memory
// running out included) leaves it: such a picture is not shown.
#include <functional>
#include <QFuture>
#include <QImage>
#include <QSize>

class PictureDecoder {
public:
    // The most pixels a picture may claim: what a reader may decode whole
    // (256 MB of 32-bit pixels, the image readers' own allocation bound).
    static constexpr qint64 kMaxPixels = 64LL * 1024 * 1024;

    struct Result {
        QImage image; // null when the picture is not shown
        QSize claimed; // the size in the picture's header; invalid when unreadable
        bool TooLarge() const { return qint64(claimed.width()) * claimed.height() > kMaxPixels; }
    };

    // The picture scaled to fit within box (keeping its proportions, never
    // less than a pixel across), or why not. Reading ends early, with no
    // image, once cancelled() says so.
    static Result Decode(const QByteArray& bytes, const QSize& box, const std::function<bool()>& cancelled = {});
    // The same on the pictures' worker; the future's result is ready once it
    // ran. Cancelling the future cancels the decoding.
    static QFuture<Result> Start(const QByteArray& bytes, const QSize& box);
    // The largest size within box with the proportions of size; size itself
    // when it fits.
    static QSize Fitted(const QSize& size, const QSize& box);
};
