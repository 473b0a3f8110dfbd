// The share manager's wiring to the peer network and the distributed search
// tree, and the one way it sends a message to a user.
#include "SharedFoldersManager.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"

void SharedFoldersManager::ConnectNetwork()
{
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
            &SharedFoldersManager::OnFilesInFoldersRequested);
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
    if (peerMessenger)
        peerMessenger->SetSharedFilesMessageProvider({});
}

void SharedFoldersManager::SendToUser(const QString& user, MemStream& message)
{
    if (peerMessenger)
        peerMessenger->SendMessageToUser(user, message);
}
