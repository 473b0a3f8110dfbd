// The parts of the client that the Transfers page stands on, made as the
// window makes them: store and settings, server, peer network, shares and
// the transfer engine; no port mapping, free ports, one colour for every
// transfer status.
#pragma once
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include <QCoreApplication>

namespace {

inline void MakeTransfersCore()
{
    QCoreApplication* app = QCoreApplication::instance();
    new TimerManager(app);
    dataSaver = new DataSaver(&d);
    new Server(app);
    Settings::CreateTypes();
    gp_server->CreateData();
    settings.Set("use_upnp", "no");
    settings.Set("listening_port", "0");
    settings.Set("obfuscated_listening_port", "0");
    for (const char* key : { "color_transfer_queued", "color_transfer_complete", "color_transfer_in_progress",
             "color_transfer_failed", "color_transfer_other" })
        settings.Set(key, "#3366ff");
    new PeerMessenger(app);
    new DNetManager(app);
    new SharedFoldersManager(app);
    new TransferQueueManager(app);
}

} // namespace
