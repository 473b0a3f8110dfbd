#include "ShareListDecoder.h"
#include "PeerMessages.h"
#include <algorithm>

ShareListDecoder::ShareListDecoder(QObject* parent)
    : QObject(parent)
{
    m_worker.setMaxThreadCount(1);
}

ShareListDecoder::~ShareListDecoder()
{
    m_worker.clear();
    m_worker.waitForDone();
}

bool ShareListDecoder::Decode(const QString& user, const QByteArray& message)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_waitingBytes + message.size() > kMaxWaitingBytes)
            return false;
        m_waitingBytes += message.size();
    }
    m_worker.start([this, user, message] {
        auto list = std::make_unique<List>();
        list->user = user;
        // The list after the code, read in place.
        const QByteArray compressed
            = QByteArray::fromRawData(message.constData() + 4, std::max<qsizetype>(message.size() - 4, 0));
        list->ok = DecodeSharedFileList(compressed, list->share, list->table, &list->why);
        {
            std::lock_guard lock(m_mutex);
            m_waitingBytes -= message.size();
            m_done.push_back(std::move(list));
        }
        QMetaObject::invokeMethod(this, &ShareListDecoder::Deliver, Qt::QueuedConnection);
    });
    return true;
}

void ShareListDecoder::Finish()
{
    m_worker.waitForDone();
    Deliver();
}

void ShareListDecoder::Deliver()
{
    std::vector<std::unique_ptr<List>> lists;
    {
        std::lock_guard lock(m_mutex);
        lists.swap(m_done);
    }
    if (lists.empty())
        return;
    for (const std::unique_ptr<List>& list : lists) {
        if (list->ok)
            emit Decoded(list->user, list->share, list->table);
        else
            emit Failed(list->user, list->why);
    }
    // Freed on the worker too: a list of a hundred thousand records goes one
    // allocation at a time.
    auto gone = std::make_shared<std::vector<std::unique_ptr<List>>>(std::move(lists));
    m_worker.start([gone = std::move(gone)] { gone->clear(); });
}
