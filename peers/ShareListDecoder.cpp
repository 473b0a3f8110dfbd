#include "ShareListDecoder.h"
#include "PeerMessages.h"
#include <algorithm>
#include <memory>

ShareListDecoder::ShareListDecoder(QObject* parent)
    : QObject(parent)
    , m_worker(kMaxWaitingBytes)
{
}

struct ShareListDecoder::List {
    bool ok = false;
    QString why;
    FileInfoMap share;
    AttributeTranslationTable table;
};

bool ShareListDecoder::Decode(const QString& user, const QByteArray& message)
{
    return m_worker.Start(message.size(), [this, user, message]() -> OrderedWorker::Outcome {
        auto list = std::make_shared<List>();
        // The list after the code, read in place.
        const QByteArray compressed
            = QByteArray::fromRawData(message.constData() + 4, std::max<qsizetype>(message.size() - 4, 0));
        list->ok = DecodeSharedFileList(compressed, list->share, list->table, &list->why);
        return [this, user, list] {
            if (!list->ok) {
                emit Failed(user, list->why);
                return;
            }
            m_announcing = list;
            emit Decoded(user, list->share, list->table);
            m_announcing.reset();
        };
    });
}

std::shared_ptr<const FileInfoMap> ShareListDecoder::Hold(const FileInfoMap& share) const
{
    if (!m_announcing || &m_announcing->share != &share)
        return nullptr;
    return std::shared_ptr<const FileInfoMap>(m_announcing, &m_announcing->share);
}

void ShareListDecoder::Finish()
{
    m_worker.Finish();
}
