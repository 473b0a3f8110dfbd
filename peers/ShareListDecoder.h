#pragma once
// Received share lists, inflated and decoded on a worker thread: a list of a
// hundred thousand files takes tens of milliseconds to decode and as long
// again to free, too long for the window to wait. One worker takes the lists
// in the order they came, so their outcomes come out in that order, on the
// decoder's own thread; it also frees each list once its receivers are done
// with it. The worker only turns bytes into records: it never touches the
// store.
//
// While more than kMaxWaitingBytes of lists wait for the worker, a further
// list is refused: a peer sending list after list can't make the waiting
// lists grow without bound.
#include "FileInfo.h"
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <memory>
#include <mutex>
#include <vector>

class ShareListDecoder : public QObject {
    Q_OBJECT
public:
    explicit ShareListDecoder(QObject* parent = nullptr);
    // Drops the lists not yet begun and waits for the one being decoded.
    ~ShareListDecoder() override;

    // Decodes a share-list message (the code, then the compressed list);
    // Decoded or Failed follows from the event loop. False, and nothing
    // follows, when the list is refused.
    bool Decode(const QString& user, const QByteArray& message);
    // Waits until every list handed in is decoded and emits the outcomes now.
    void Finish();

    static constexpr qsizetype kMaxWaitingBytes = 128 * 1024 * 1024;

signals:
    // The list is only valid during the call.
    void Decoded(QString user, FileInfoMap& share, AttributeTranslationTable& table);
    // Not a list: why, as the log tells it.
    void Failed(QString user, QString why);

private:
    struct List {
        QString user;
        bool ok = false;
        QString why;
        FileInfoMap share;
        AttributeTranslationTable table;
    };
    void Deliver();

    QThreadPool m_worker;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<List>> m_done; // decoded, not yet delivered
    qsizetype m_waitingBytes = 0;
};
