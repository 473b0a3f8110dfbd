// The share manager's wiring to the peer network and the distributed search
// tree, and the one way it sends a message to a user.
#include "FolderReplyQueue.h"
#include "SharedFoldersManager.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"

void SharedFoldersManager::ConnectNetwork()
{
    if (peerMessenger) {
        peerMessenger->SetFolderReplyBuilder(
            [this](quint64 connection, const QString& user, quint32 request, const QString& folder) {
                m_folderReplies->Add({ connection, user, request, folder });
            });
        connect(peerMessenger, &PeerMessenger::ConnectionGone, m_folderReplies, &FolderReplyQueue::Cancel);
        peerMessenger->SetSharedFilesMessageProvider([this](const QString& user) -> std::optional<MemStream> {
            MemStream message;
            if (RequestSharedFilesMessage(user, message))
                return message;
            return std::nullopt;
        });
    }
    if (dnetManager)
        connect(dnetManager, &DNetManager::DNetSearchRequest, this, &SharedFoldersManager::QueueSearch);
}

void SharedFoldersManager::DisconnectNetwork()
{
    if (peerMessenger) {
        peerMessenger->SetSharedFilesMessageProvider({});
        peerMessenger->SetFolderReplyBuilder({});
    }
}

void SharedFoldersManager::SendToUser(const QString& user, MemStream& message)
{
    if (peerMessenger)
        peerMessenger->SendMessageToUser(user, message);
}
