#include "UserShareBuilder.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/SlicedWork.h"
#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>


UserShareBuilder::UserShareBuilder(const FileInfoMap& share, QObject* parent)
    : QObject(parent)
{
    Flat flat;
    Flatten(share, flat);
    Prepare();
    Take(flat);
}

UserShareBuilder::UserShareBuilder(std::shared_ptr<const FileInfoMap> share, QObject* parent)
    : QObject(parent)
{
    Prepare();
    // The builder may be gone when the copy is done: the copy then just goes.
    QPointer<UserShareBuilder> self(this);
    QThreadPool::globalInstance()->start([self, share = std::move(share)]() mutable {
        auto flat = std::make_shared<Flat>();
        Flatten(*share, *flat);
        share.reset(); // freed here, not on the window's thread
        QMetaObject::invokeMethod(
            qApp, [self, flat] { if (self) self->Take(*flat); }, Qt::QueuedConnection);
    });
}

void UserShareBuilder::Flatten(const FileInfoMap& share, Flat& flat)
{
    size_t textSize = 0;
    size_t fileCount = 0;
    for (const auto& [key, files] : share) {
        textSize += key.size();
        fileCount += files.size();
        for (const FileInfo& info : files)
            textSize += info.name.size();
    }
    flat.text.reserve(textSize);
    flat.folders.reserve(share.size());
    flat.files.reserve(fileCount);
    for (const auto& [key, files] : share) {
        flat.folders.push_back({ flat.text.size(), key.size(), flat.files.size(), files.size() });
        flat.text += key;
        for (const FileInfo& info : files) {
            File file { flat.text.size(), info.name.size(), info.size };
            flat.text += info.name;
            for (const auto& [code, value] : info.attributes.attributes) {
                if (code == ATTR_BITRATE)
                    file.bitrate = value;
                else if (code == ATTR_LENGTH)
                    file.length = value;
                else if (code == ATTR_BITRATE_MODE)
                    file.mode = value;
            }
            flat.files.push_back(file);
        }
    }
}

void UserShareBuilder::Prepare()
{
    m_folderType = d.GetType("user_share_folder");
    m_folderNameType = d.GetType("user_share_folder_name");
    m_parentType = d.GetType("user_share_folder_parent");
    m_childType = d.GetType("user_share_folder_child");
    m_fileType = d.GetType("user_share_file");
    m_fileNameType = d.GetType("user_share_file_name");
    m_sizeType = d.GetType("file_size");
    m_bitrateType = d.GetType("bitrate");
    m_lengthType = d.GetType("length_seconds");
    m_modeType = d.GetType("bitrate_mode");

    Type* shareType = d.GetType("user_share");
    m_share = shareType->NewItem();
    Subscribe(shareType->itemRemoved, &UserShareBuilder::OnShareRemoved);
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &UserShareBuilder::Slice);
}

void UserShareBuilder::Take(Flat& flat)
{
    m_text = std::move(flat.text);
    m_folderList = std::move(flat.folders);
    m_fileList = std::move(flat.files);
    m_folders.reserve(m_folderList.size());
    m_ready = true;
    if (m_started)
        Start();
}

void UserShareBuilder::Start()
{
    m_started = true;
    if (m_ready && !m_finished && m_share)
        m_timer.start();
}

void UserShareBuilder::Run()
{
    m_timer.stop();
    while (m_share && Step(nullptr)) { }
    if (m_share && !m_finished) {
        m_finished = true;
        emit Finished(m_share);
    }
}

void UserShareBuilder::Stop()
{
    m_timer.stop();
    m_share = ItemPtr();
    m_folder = ItemPtr();
}

void UserShareBuilder::Slice()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    bool worked = false;
    while (m_share && !turn.hasExpired()) {
        if (!Step(&turn)) {
            // Finished gets a turn of its own: the owner's rows follow it.
            if (worked)
                break;
            m_finished = true;
            emit Finished(m_share);
            return;
        }
        worked = true;
    }
    if (m_share)
        m_timer.start();
}

bool UserShareBuilder::Step(const QDeadlineTimer* turn)
{
    if (!m_inFolder) {
        if (m_nextFolder == m_folderList.size())
            return false;
        const Folder& folder = m_folderList[m_nextFolder];
        AddFolder(Text(folder.key, folder.keyLength));
        m_nextFile = 0;
        m_inFolder = true;
    }
    const Folder& folder = m_folderList[m_nextFolder];
    while (m_nextFile < folder.fileCount) {
        AddFile(m_fileList[folder.firstFile + m_nextFile++]);
        // A folder may hold a hundred thousand files: look at the time now
        // and then.
        if (turn && m_nextFile % 64 == 0 && turn->hasExpired())
            return true;
    }
    m_inFolder = false;
    ++m_nextFolder;
    return true;
}

void UserShareBuilder::AddFolder(std::string_view path)
{
    ItemPtr folder = m_folderType->NewItem();
    m_share += folder;
    folder += m_folderNameType->GetItem(Value(std::string(path)));
    // Keys come in byte order and a path sorts before every path that
    // extends it, so a parent folder the list holds is made already.
    const std::string parentPath = GetParentFolder(std::string(path));
    if (parentPath != path) {
        auto parent = m_folders.find(std::string_view(parentPath));
        if (parent != m_folders.end()) {
            ItemPtr up = m_parentType->NewItem();
            ItemPtr down = m_childType->NewItem();
            folder += up;
            parent->second += down;
            up += down;
        }
    }
    m_folders.emplace(path, folder);
    m_folder = folder;
}

void UserShareBuilder::AddFile(const File& info)
{
    ItemPtr file = m_fileType->NewItem();
    m_folder += file;
    file += m_fileNameType->GetItem(Value(std::string(Text(info.name, info.nameLength))));
    file += m_sizeType->GetItem(Value(static_cast<long long>(info.size)));
    if (info.bitrate >= 0)
        file += m_bitrateType->GetItem(Value(static_cast<long long>(info.bitrate)));
    if (info.length >= 0)
        file += m_lengthType->GetItem(Value(static_cast<long long>(info.length)));
    if (info.mode >= 0)
        file += m_modeType->GetItem(Value(info.mode == 0 ? "cbr" : "vbr"));
}

void UserShareBuilder::OnShareRemoved(ItemPtr share)
{
    if (share == m_share)
        Stop();
}
