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
    FileInfoMap share;
    AttributeTranslationTable table;
};

bool ShareListDecoder::Decode(const QString& user, const QByteArray& message)
{
    const quint64 number = ++m_arrived;
    const auto refused = [this, user, number](const QString& why) {
        m_announcingNumber = number;
        emit Failed(user, why);
        m_announcingNumber = 0;
    };
    const auto decode = [this, user, message, number, refused]() -> OrderedWorker::Outcome {
        auto list = std::make_shared<List>();
        // The list after the code, read in place.
        const QByteArray compressed
            = QByteArray::fromRawData(message.constData() + 4, std::max<qsizetype>(message.size() - 4, 0));
        QString why;
        if (!DecodeSharedFileList(compressed, list->share, list->table, &why))
            return [refused, why] { refused(why); };
        return [this, user, list, number] {
            m_announcingNumber = number;
            m_announcing = list;
            emit Decoded(user, list->share, list->table);
            m_announcing.reset();
            m_announcingNumber = 0;
        };
    };
    return m_worker.Start(message.size(), decode, refused);
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
