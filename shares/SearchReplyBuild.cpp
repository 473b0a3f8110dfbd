// Answers to others' searches, built a slice at a time: the index is read and
// the body written on the GUI thread in turns of the event loop; the body is
// compressed on a worker thread, one reply at a time, while the next search
// is read. A reply that finds a whole share (131,072 records at most) thus
// never holds the window.
#include "SearchAnswerQueue.h"
#include "SearchReply.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Item.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "store/SlicedWork.h"

bool SharedFoldersManager::BeginSearchReply(SearchReply& reply) const
{
    reply.begun = true;
    reply.shape = m_shapeGeneration;
    reply.candidates.clear();
    reply.next = 0;
    reply.records.clear();
    if (runtimeSettings.IsYes("finish_uploads_and_quit"))
        return false;
    if (!reply.parser.SetSearchText(reply.query) || reply.parser.GetIncludedTokenSet().isEmpty())
        return false;
    std::vector<Item*> tokens;
    bool longWord = false;
    for (const QString& word : reply.parser.GetIncludedTokenSet()) {
        const QByteArray utf8 = word.toUtf8();
        ItemPtr token = m_tokenType->HasItemText(std::string_view(utf8.constData(), size_t(utf8.size())));
        if (!token)
            return false;
        tokens.push_back(token.Get());
        longWord = longWord || word.size() > 2;
    }
    if (!longWord)
        return false;
    reply.candidates = FilesWithTokens(tokens);
    if (reply.candidates.empty())
        return false;
    reply.visible = GetUserSharedFolders(reply.user);
    return !reply.visible.Empty();
}

void SharedFoldersManager::AddSearchRecord(SearchReply& reply, ItemPtr file) const
{
    ItemPtr name = file[m_nameType];
    const QString nameText = name.AsString();
    for (const QString& word : reply.parser.GetExcludedTokenSet())
        if (nameText.indexOf(word) >= 0)
            return;
    for (const QString& word : reply.parser.GetIncludedPartTokenSet())
        if (nameText.indexOf(word) < 0)
            return;
    ItemPtr folder = file[m_folderType];
    bool seen = false;
    for (ItemPtr root : folder.GetItems(m_sharedFolderType))
        seen = seen || reply.visible.Contains(root);
    if (!seen)
        return;
    FileInfo info;
    info.name = StringReplace(folder.Text() + "/" + name.Text(), "/", "\\");
    info.size = file[m_sizeType].AsInt64();
    if (GetFileExtension(info.name) == "mp3")
        AddAudioAttributes(file, info);
    std::string key = info.name;
    reply.records[key] = std::move(info);
    if (reply.records.size() > kMaxRecords)
        reply.records.erase(std::prev(reply.records.end()));
}

bool SharedFoldersManager::ContinueSearchReply(SearchReply& reply, const QDeadlineTimer& turn) const
{
    size_t done = 0;
    const auto more = [&] { return ++done % SlicedWork::kItemsAtOnce != 0 || !turn.hasExpired(); };
    if (!reply.writing) {
        if ((!reply.begun || reply.shape != m_shapeGeneration) && !BeginSearchReply(reply)) {
            reply.none = true;
            return true;
        }
        while (reply.next < reply.candidates.size()) {
            AddSearchRecord(reply, reply.candidates[reply.next++]);
            if (!more())
                return false;
        }
        std::vector<Item*>().swap(reply.candidates);
        if (reply.records.empty()) {
            reply.none = true;
            return true;
        }
        reply.writing = true;
        reply.body.WriteString(settings.Get("username"));
        reply.body.WriteUInt32(reply.ticket);
        reply.body.WriteUInt32(quint32(reply.records.size()));
    }
    // Each record goes once written.
    while (!reply.records.empty()) {
        reply.records.begin()->second.Write(reply.body);
        reply.records.erase(reply.records.begin());
        if (!more())
            return false;
    }
    reply.body.WriteBool(m_isFreeToUpload ? m_isFreeToUpload() : true);
    reply.body.WriteUInt32(quint32(settings.GetInt("upload_speed")));
    reply.body.WriteUInt32(quint32(m_queuedUploadCount ? m_queuedUploadCount() : 0));
    AttributeTranslationTable().Write(reply.body);
    return true;
}

bool SharedFoldersManager::BuildSearchReply(
    const QString& user, unsigned int ticket, const QString& query, MemStream& message) const
{
    SearchReply reply;
    reply.user = user;
    reply.ticket = ticket;
    reply.query = query;
    ContinueSearchReply(reply, QDeadlineTimer(QDeadlineTimer::Forever));
    if (reply.none)
        return false;
    message = CompressedMessage(9, reply.body.GetBuffer());
    return true;
}

SearchAnswerQueue::Work SharedFoldersManager::AnswerInTurns(const QString& user, quint32 ticket, const QString& query)
{
    if (user == settings.Get("username"))
        return [](const QDeadlineTimer&) { return true; };
    auto reply = std::make_shared<SearchReply>();
    reply->user = user;
    reply->ticket = ticket;
    reply->query = query;
    return [this, reply, built = false](const QDeadlineTimer& turn) mutable {
        if (!built) {
            if (!ContinueSearchReply(*reply, turn))
                return false;
            built = true;
            if (reply->none) {
                emit SearchProcessed(reply->query, false);
                return true;
            }
        }
        // One reply at a time goes to the packer: the next one waits here,
        // whole, rather than many bodies piling up before it.
        if (m_replyPacking)
            return false;
        m_replyPacking = true;
        const QByteArray body = reply->body.GetBuffer();
        reply->body = MemStream();
        const quint64 session = m_answerSession;
        const QString user = reply->user;
        const QString query = reply->query;
        const auto sent = [this, session, user, query](MemStream message) {
            m_replyPacking = false;
            // Asked of the user logged in before: nobody answers it now.
            if (session != m_answerSession)
                return;
            Log(QStringLiteral("Search"), 1,
                QStringLiteral("Sending search results to user %1 for search string %2").arg(user, query));
            SendToUser(user, message);
            emit SearchProcessed(query, true);
        };
        const bool started = m_replyPacker->Start(
            0,
            [body, sent]() -> OrderedWorker::Outcome {
                return [message = CompressedMessage(9, body), sent] { sent(message); };
            },
            [this, query](const QString& why) {
                m_replyPacking = false;
                Log(QStringLiteral("Search"), 1, QStringLiteral("A search reply was not sent: %1").arg(why));
                emit SearchProcessed(query, false);
            });
        if (!started)
            m_replyPacking = false;
        return true;
    };
}

void SharedFoldersManager::QueueSearch(QString user, quint32 ticket, QString query)
{
    // Searches that reach the tree after a logout are answered by nobody, as
    // those waiting at the logout.
    if (!m_loggedOut)
        m_searches->Add(user, ticket, query);
}

void SharedFoldersManager::OnLoggedOut()
{
    m_loggedOut = true;
    ++m_answerSession;
    m_searches->Clear();
}
