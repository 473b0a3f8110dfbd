// Search tokens and answers to other users' searches.
//
// Every shared file is linked to the words of its path, cut in two passes: runs
// of word characters (ASCII letters and digits, and Latin-1 from U+0080 to
// U+00FF), and runs between spaces and path separators. The path counts from
// the shared folder's own name downward, so the folders above the share (the
// home folder, the login name) are no words of its files.
#include "SharedFoldersManager.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "store/SearchParser.h"
#include "store/Settings.h"
#include <algorithm>

namespace {
bool IsPass2Separator(QChar c) { return c == u' ' || c == u'/' || c == u'\\'; }

// The text from the root's own name downward: the folder path cut after the
// last separator above the root's last component.
QString PathFromShareName(const QString& folder, const QString& root)
{
    QString trimmed = root;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    const qsizetype cut = trimmed.lastIndexOf(u'/');
    return cut < 0 ? folder : folder.mid(cut + 1);
}

bool IsUnder(const QString& folder, const QString& root)
{
    if (!folder.startsWith(root))
        return false;
    return folder.size() == root.size() || root.endsWith(u'/') || folder.at(root.size()) == u'/';
}
}

bool SharedFoldersManager::IsSearchTokenSeparator(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))
        return false;
    if (u <= 0x7F)
        return true;
    return u > 0xFF;
}

void SharedFoldersManager::LinkTokens(Item*, const QString& text, std::vector<Item*>& tokens) const
{
    auto add = [&](qsizetype from, qsizetype to) {
        if (to <= from)
            return;
        const QByteArray utf8 = QStringView(text).mid(from, to - from).toUtf8();
        const std::string_view view(utf8.constData(), size_t(utf8.size()));
        ItemPtr token = m_tokenType->HasItemText(view);
        if (!token)
            token = m_tokenType->GetItem(Value(std::string(view)));
        tokens.push_back(token.Get());
    };
    qsizetype start = -1;
    for (qsizetype k = 0; k <= text.size(); ++k) {
        const bool word = k < text.size() && !IsSearchTokenSeparator(text.at(k));
        if (word && start < 0)
            start = k;
        else if (!word && start >= 0) {
            add(start, k);
            start = -1;
        }
    }
    for (qsizetype k = 0; k <= text.size(); ++k) {
        const bool word = k < text.size() && !IsPass2Separator(text.at(k));
        if (word && start < 0)
            start = k;
        else if (!word && start >= 0) {
            add(start, k);
            start = -1;
        }
    }
}

std::vector<Item*> SharedFoldersManager::FolderTokens(ItemPtr folder) const
{
    std::vector<Item*> tokens;
    if (!folder)
        return tokens;
    const QString path = folder.AsString();
    // Under nested shared folders the outermost one names the words.
    QString root;
    for (ItemPtr shared : folder.GetItems(m_sharedFolderType)) {
        const QString candidate = shared.AsString();
        if (IsUnder(path, candidate) && (root.isNull() || candidate.size() < root.size()))
            root = candidate;
    }
    const QString text = root.isNull() ? path : PathFromShareName(path, root);
    LinkTokens(nullptr, text.toLower(), tokens);
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return tokens;
}

void SharedFoldersManager::TokenizeFile(Item* file, const std::vector<Item*>& folderTokens)
{
    std::vector<Item*> tokens = folderTokens;
    LinkTokens(file, ItemPtr(file)[m_nameType].AsString().toLower(), tokens);
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    ItemPtr fileItem(file);
    for (Item* token : tokens)
        ItemPtr(token).Connect(fileItem);
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file)
{
    if (file)
        TokenizeFile(file.Get(), FolderTokens(file[m_folderType]));
}

bool SharedFoldersManager::BuildSearchReply(
    const QString& user, unsigned int ticket, const QString& query, MemStream& message) const
{
    if (runtimeSettings.IsYes("finish_uploads_and_quit"))
        return false;
    SearchParser parser;
    if (!parser.SetSearchText(query) || parser.GetIncludedTokenSet().isEmpty())
        return false;
    ItemSet tokens;
    bool longWord = false;
    for (const QString& word : parser.GetIncludedTokenSet()) {
        const QByteArray utf8 = word.toUtf8();
        ItemPtr token = m_tokenType->HasItemText(std::string_view(utf8.constData(), size_t(utf8.size())));
        if (!token)
            return false;
        tokens.Insert(token);
        longWord = longWord || word.size() > 2;
    }
    if (!longWord)
        return false;
    const ItemSet candidates = d.GetItemSubset(tokens, "shared_file");
    if (candidates.Empty())
        return false;
    const ItemSet visible = GetUserSharedFolders(user);
    if (visible.Empty())
        return false;

    // Records by path in unsigned byte order; never more than a receiver takes.
    std::map<std::string, FileInfo> records;
    for (ItemPtr file : candidates) {
        ItemPtr name = file[m_nameType];
        const QString nameText = name.AsString();
        bool keep = true;
        for (const QString& word : parser.GetExcludedTokenSet())
            keep = keep && nameText.indexOf(word) < 0;
        for (const QString& word : parser.GetIncludedPartTokenSet())
            keep = keep && nameText.indexOf(word) >= 0;
        if (!keep)
            continue;
        ItemPtr folder = file[m_folderType];
        bool seen = false;
        for (ItemPtr root : folder.GetItems(m_sharedFolderType))
            seen = seen || visible.Contains(root);
        if (!seen)
            continue;
        FileInfo info;
        info.name = StringReplace(folder.Text() + "/" + name.Text(), "/", "\\");
        info.size = file[m_sizeType].AsInt64();
        if (GetFileExtension(info.name) == "mp3")
            AddAudioAttributes(file, info);
        std::string key = info.name;
        records[key] = std::move(info);
        if (records.size() > kMaxRecords)
            records.erase(std::prev(records.end()));
    }
    if (records.empty())
        return false;

    MemStream body;
    body.WriteString(settings.Get("username"));
    body.WriteUInt32(ticket);
    body.WriteUInt32(quint32(records.size()));
    for (const auto& [path, info] : records)
        info.Write(body);
    body.WriteBool(m_isFreeToUpload ? m_isFreeToUpload() : true);
    body.WriteUInt32(quint32(settings.GetInt("upload_speed")));
    body.WriteUInt32(quint32(m_queuedUploadCount ? m_queuedUploadCount() : 0));
    AttributeTranslationTable().Write(body);
    message = CompressedMessage(9, body.GetBuffer());
    return true;
}

bool SharedFoldersManager::ProcessSearch(const QString& user, unsigned int ticket, const QString& query)
{
    MemStream message;
    if (!BuildSearchReply(user, ticket, query, message))
        return false;
    Log(QStringLiteral("Search"), 1,
        QStringLiteral("Sending search results to user %1 for search string %2").arg(user, query));
    SendToUser(user, message);
    return true;
}

void SharedFoldersManager::OnDirectFileSearch(QString user, quint32 ticket, QString query)
{
    if (user == settings.Get("username"))
        return;
    emit SearchProcessed(query, ProcessSearch(user, ticket, query));
}

void SharedFoldersManager::OnDNetSearchRequest(QString user, quint32 ticket, QString query)
{
    OnDirectFileSearch(user, ticket, query);
}
