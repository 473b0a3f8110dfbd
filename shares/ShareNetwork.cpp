// The share manager's wiring to the peer network and the distributed search
// tree, and the one way it sends a message to a user.
#include "SharedFoldersManager.h"

void SharedFoldersManager::ConnectNetwork() { }

void SharedFoldersManager::SendToUser(const QString&, MemStream&) { }
