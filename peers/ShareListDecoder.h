#pragma once
// Received share lists, inflated and decoded on a worker thread: a list of a
// hundred thousand files takes tens of milliseconds to decode and as long
// again to free, too long for the window to wait. One worker takes the lists
// in the order they came, so their outcomes come out in that order, on the
// decoder's own thread; it also frees each list once its receivers are done
// with it (OrderedWorker).
//
// While more than kMaxWaitingBytes of lists wait for the worker, a further
// list is refused: a peer sending list after list can't make the waiting
// lists grow without bound.
#include "FileInfo.h"
#include "store/OrderedWorker.h"
#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class ShareListDecoder : public QObject {
    Q_OBJECT
public:
    // Lists not yet begun are dropped with the decoder, which waits for the
    // one being decoded.
    explicit ShareListDecoder(QObject* parent = nullptr);

    // Decodes a share-list message (the code, then the compressed list);
    // Decoded or Failed follows from the event loop (Failed also when the
    // decoding threw). False, and nothing follows, when the list is refused.
    bool Decode(const QString& user, const QByteArray& message);
    // Waits until every list handed in is decoded and emits the outcomes now.
    void Finish();
    // During Decoded, the list being announced, held for a receiver that reads
    // it later (freed once the last holder lets go); null for another list.
    std::shared_ptr<const FileInfoMap> Hold(const FileInfoMap& share) const;
    // Lists are numbered from 1 as they are handed in (refused ones too).
    // During Decoded or Failed, the number of the list announced; at any
    // other time, that of the last list handed in. A receiver that asked for
    // a list when this was n takes only lists numbered above n: one numbered
    // n or below came before it asked, the answer to an earlier request.
    quint64 Number() const { return m_announcingNumber ? m_announcingNumber : m_arrived; }

    static constexpr qsizetype kMaxWaitingBytes = 128 * 1024 * 1024;

signals:
    // The list is only valid during the call.
    void Decoded(QString user, FileInfoMap& share, AttributeTranslationTable& table);
    // Not a list: why, as the log tells it.
    void Failed(QString user, QString why);

private:
    struct List;
    OrderedWorker m_worker;
    std::shared_ptr<List> m_announcing;
    quint64 m_arrived = 0;
    quint64 m_announcingNumber = 0;
};
