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

} // namespace

QSize PictureDecoder::Fitted(const QSize& size, const QSize& box)
{
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

PictureDecoder::Result PictureDecoder::Decode(const QByteArray& bytes, const QSize& box)
{
    Result result;
    QByteArray data = bytes;
    QBuffer buffer(&data);
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
        promise->addResult(Decode(bytes, box));
        promise->finish();
    });
    return future;
}
