// Search tokens and answers to other users' searches.
//
// The words of a path are cut in two passes: runs of word characters (ASCII
// letters and digits, and Latin-1 from U+0080 to U+00FF), and runs between
// spaces and path separators. A file's name words are linked to the file and
// its folder's words to the folder, once for all the files in it. The folder
// path counts from the shared folder's own name downward, so the folders above
// the share (the home folder, the login name) are no words of its files.
#include "SharedFoldersManager.h"
#include "SearchWords.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Item.h"
#include "store/Log.h"
#include "store/Settings.h"
#include <algorithm>

namespace {

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

void SharedFoldersManager::CutTokens(std::string_view text, std::vector<Item*>& tokens) const
{
    std::vector<std::string_view> words;
    SearchWords::Cut(text, words);
    for (std::string_view word : words) {
        ItemPtr token = m_tokenType->HasItemText(word);
        if (!token)
            token = m_tokenType->GetItem(Value(std::string(word)));
        tokens.push_back(token.Get());
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
    const QByteArray lower = text.toLower().toUtf8();
    CutTokens(std::string_view(lower.constData(), size_t(lower.size())), tokens);
    // In creation order: each goes last among the folder's words when linked.
    std::sort(tokens.begin(), tokens.end(), [](const Item* a, const Item* b) { return a->serial < b->serial; });
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return tokens;
}

void SharedFoldersManager::TokenizeFile(Item* file)
{
    std::vector<Item*> tokens;
    const QByteArray text = ItemPtr(file)[m_nameType].AsString().toLower().toUtf8();
    CutTokens(std::string_view(text.constData(), size_t(text.size())), tokens);
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    // From the file's side: its own few connections are searched, not the
    // token's many.
    ItemPtr fileItem(file);
    for (Item* token : tokens)
        fileItem.Connect(token);
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file)
{
    if (!file)
        return;
    ItemPtr folder = file[m_folderType];
    for (Item* token : FolderTokens(folder))
        folder.Connect(token);
    TokenizeFile(file.Get());
}

namespace {
// A set of item addresses for one search: open addressing over a power of
// two at most half full, so building and asking cost a few nanoseconds each
// and nothing is sorted.
class AddressSet {
public:
    explicit AddressSet(size_t expected)
    {
        size_t size = 16;
        while (size < expected * 2)
            size *= 2;
        m_slots.assign(size, nullptr);
    }
    bool Insert(Item* item)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            Grow();
        for (size_t i = Start(item);; i = (i + 1) & (m_slots.size() - 1)) {
            if (m_slots[i] == item)
                return false;
            if (!m_slots[i]) {
                m_slots[i] = item;
                ++m_count;
                return true;
            }
        }
    }
    bool Contains(const Item* item) const
    {
        for (size_t i = Start(item);; i = (i + 1) & (m_slots.size() - 1)) {
            if (m_slots[i] == item)
                return true;
            if (!m_slots[i])
                return false;
        }
    }

private:
    size_t Start(const Item* item) const
    {
        return size_t((quint64(reinterpret_cast<quintptr>(item)) >> 4) * 0x9E3779B97F4A7C15ULL >> 20)
            & (m_slots.size() - 1);
    }
    void Grow()
    {
        std::vector<Item*> old(m_slots.size() * 2, nullptr);
        old.swap(m_slots);
        m_count = 0;
        for (Item* item : old) {
            if (item)
                Insert(item);
        }
    }
    std::vector<Item*> m_slots;
    size_t m_count = 0;
};
}

std::vector<Item*> SharedFoldersManager::FilesWithTokens(const std::vector<Item*>& tokens) const
{
    // How many files a token reaches, linked to it or in a folder linked to
    // it, estimated without reading the folders (a folder counts as the files
    // of an album).
    auto estimate = [this](Item* token) {
        return token->connections.Count(m_fileType) + 16 * token->connections.Count(m_folderType);
    };
    auto forEachFile = [this](Item* token, auto&& f) {
        token->connections.ForEachOfType(m_fileType, f);
        token->connections.ForEachOfType(
            m_folderType, [&](Item* folder) { folder->connections.ForEachOfType(m_fileType, f); });
    };
    // The folders of every token are fetched from memory together rather
    // than one after the other: each is a cache miss, and a large index is
    // far bigger than the caches.
    {
        std::vector<Item*> folders;
        for (Item* token : tokens)
            token->connections.ForEachOfType(m_folderType, [&](Item* folder) { folders.push_back(folder); });
        for (Item* folder : folders)
            __builtin_prefetch(folder);
        for (Item* folder : folders) {
            const char* entries = static_cast<const char*>(folder->connections.RawEntries());
            const size_t bytes = std::min<size_t>(folder->connections.EntryCount() * sizeof(quintptr), 512);
            for (size_t at = 0; at < bytes; at += 64)
                __builtin_prefetch(entries + at);
        }
    }
    Item* smallest = nullptr;
    size_t best = size_t(-1);
    for (Item* token : tokens) {
        const size_t count = estimate(token);
        if (count < best) {
            best = count;
            smallest = token;
        }
    }
    if (!smallest || best == 0)
        return {};
    // The smallest token's files, each once (a file may be linked to the word
    // and lie in a folder linked to it too).
    std::vector<Item*> candidates;
    {
        AddressSet seen(best);
        forEachFile(smallest, [&](Item* file) {
            if (seen.Insert(file))
                candidates.push_back(file);
        });
    }
    for (Item* token : tokens) {
        if (token == smallest || candidates.empty())
            continue;
        // A token that reaches few files is gathered and asked; one that
        // reaches many is looked for on each candidate instead.
        const size_t reach = estimate(token);
        if (reach <= 16 * candidates.size() + 1024) {
            AddressSet files(reach);
            forEachFile(token, [&](Item* file) { files.Insert(file); });
            std::erase_if(candidates, [&](Item* file) { return !files.Contains(file); });
        } else {
            std::erase_if(candidates, [&](Item* file) {
                Item* folder = ItemPtr(file)[m_folderType].Get();
                return !file->connections.Contains(token) && !(folder && folder->connections.Contains(token));
            });
        }
    }
    return candidates;
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
