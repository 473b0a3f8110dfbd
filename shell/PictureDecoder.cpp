#include "PictureDecoder.h"
#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>
#include <memory>

namespace {

// One thread, owned by the application so that it is waited for before the
// image plug-ins go away.
QThreadPool* Worker()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(1);
    }
    return pool;
}

// The picture's bytes, which stop reading once the asker cancelled.
class CancellableBuffer : public QBuffer {
public:
    CancellableBuffer(QByteArray* bytes, const std::function<bool()>& cancelled)
        : QBuffer(bytes)
        , m_cancelled(cancelled)
    {
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        return m_cancelled && m_cancelled() ? -1 : QBuffer::readData(data, maxSize);
    }

private:
    const std::function<bool()>& m_cancelled;
};

} // namespace

QSize PictureDecoder::Fitted(const QSize& size, const QSize& box)
{
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

PictureDecoder::Result PictureDecoder::Decode(const QByteArray& bytes, const QSize& box, const std::function<bool()>& cancelled)
{
    Result result;
    QByteArray data = bytes;
    CancellableBuffer buffer(&data, cancelled);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    result.claimed = reader.size();
    if (!result.claimed.isValid() || result.TooLarge())
        return result;
    const QSize fitted = Fitted(result.claimed, box);
    if (fitted != result.claimed)
        reader.setScaledSize(fitted);
    result.image = reader.read();
    // A reader that can't scale as it reads leaves it to here.
    if (!result.image.isNull() && Fitted(result.image.size(), box) != result.image.size())
        result.image = result.image.scaled(
            Fitted(result.image.size(), box), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return result;
}

QFuture<PictureDecoder::Result> PictureDecoder::Start(const QByteArray& bytes, const QSize& box)
{
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    Worker()->start([promise, bytes, box] {
        const std::function<bool()> cancelled = [&promise] { return promise->isCanceled(); };
        if (!cancelled()) {
            try {
                promise->addResult(Decode(bytes, box, cancelled));
            } catch (...) {
                promise->addResult(Result());
            }
        }
        promise->finish();
    });
    return future;
}
