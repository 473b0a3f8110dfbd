// The engine's item types, relations, saved types and setting defaults; what
// happens once the data file has been read; and the end of the engine.
#include "DownloadThread.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "store/OrderedWorker.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "store/SlicedWork.h"
#include "store/TimerManager.h"
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>

TransferQueueManager* transferQueueManager = nullptr;

namespace {

// Set once the queue's partial files have records: a data file without it
// comes from before.
const char* const kRecordsKept = "partial_file_records";

void SaveWhole(const char* type)
{
    if (dataSaver)
        dataSaver->AddSavedType(type);
}

void SaveWhenLinked(const char* type, const char* other)
{
    if (dataSaver)
        dataSaver->AddSavedByConnectionType(type, other);
}

} // namespace

void TransferQueueManager::DeclareDownloadTypes()
{
    d.DeclareType("download_entry", kEntity, true);
    d.DeclareType("file_name", kAttribute);
    d.DeclareType("remote_folder", kLink);
    d.DeclareType("download_folder", kLink);
    d.DeclareType("transfer_req", kAttribute);
    d.DeclareType("remote_transfer_req", kAttribute);
    d.DeclareType("download_socket", kEntity);
    d.DeclareType("download_file", kEntity);
    d.DeclareType("write_position", kAttribute);
    d.DeclareType("download_entry_status", kEntity);
    d.DeclareType("download_order", kAttribute);
    d.DeclareType("upload_socket", kEntity);
    d.DeclareType("upload_file", kEntity);
    d.DeclareType("read_position", kAttribute);
    d.DeclareType("upload_entry_status", kEntity);
    d.DeclareType("upload_order", kAttribute);
    d.DeclareType("is_active", kAttribute, true);
    d.DeclareType("last_receipt_time", kAttribute);
    d.DeclareType("last_speed_measurement_time", kAttribute);
    d.DeclareType("bytes_per_second", kAttribute);
    d.DeclareType("bytes_since_last_receipt", kAttribute);
    d.DeclareType("place_in_line", kAttribute);
    d.DeclareType("last_queue_request_time", kAttribute);
    d.DeclareType("next_place_in_line_request_time", kAttribute);
    d.DeclareType("download_thread", kEntity);
    d.DeclareType("subfolder_save_level", kAttribute);
    d.DeclareType("last_status_change_time", kAttribute);
    d.DeclareType("single_download", kAttribute, true);
    // The name of the download's partial file when another file's bytes held
    // its own name; and what its row says about its partial file.
    d.DeclareType("partial_file_name", kAttribute);
    d.DeclareType("download_note", kAttribute);
    // The file the download writes, or was filed as, below the downloads
    // folder that it keeps (`download_folder`) from the moment its partial
    // file is begun.
    d.DeclareType("download_file_path", kAttribute);

    d.RelateTypes("download_entry", "user", Many, One);
    d.RelateTypes("download_entry", "file_name", Many, One);
    d.RelateTypes("download_entry", "remote_folder", Many, One);
    d.RelateTypes("download_entry", "file_size", Many, One);
    d.RelateTypes("download_entry", "download_folder", Many, One);
    // The text of the search that found it, for the search to be run again.
    d.RelateTypes("download_entry", "search_request_text", Many, One);
    d.RelateTypes("download_entry", "transfer_req", One, One);
    d.RelateTypes("download_entry", "remote_transfer_req", Many, One);
    d.RelateTypes("download_entry", "download_socket", One, One);
    d.RelateTypes("download_entry", "download_thread", One, One);
    d.RelateTypes("download_entry", "download_file", One, One);
    d.RelateTypes("download_entry", "write_position", Many, One);
    d.RelateTypes("download_entry", "download_entry_status", Many, One);
    d.RelateTypes("download_entry", "download_order", One, One);
    d.RelateTypes("download_entry", "last_receipt_time", One, One);
    d.RelateTypes("download_entry", "last_speed_measurement_time", One, One);
    d.RelateTypes("download_entry", "bytes_per_second", One, One);
    d.RelateTypes("download_entry", "bytes_since_last_receipt", One, One);
    d.RelateTypes("download_entry", "place_in_line", Many, One);
    d.RelateTypes("download_entry", "subfolder_save_level", Many, One);
    d.RelateTypes("download_entry", "last_status_change_time", Many, One);
    d.RelateTypes("download_entry_status", "is_active", Many, One);
    d.RelateTypes("download_entry", "single_download", Many, One);
    d.RelateTypes("download_entry", "partial_file_name", Many, One);
    d.RelateTypes("download_entry", "download_note", Many, One);
    d.RelateTypes("download_entry", "download_file_path", Many, One);
    d.RelateTypes("user", "last_queue_request_time", Many, One);
    d.RelateTypes("user", "next_place_in_line_request_time", Many, One);
}

void TransferQueueManager::DeclareUploadTypes()
{
    d.DeclareType("upload_entry", kEntity, true);
    d.DeclareType("filename_as_requested", kAttribute);
    d.DeclareType("upload_start_time", kAttribute);
    d.DeclareType("bytes_uploaded", kAttribute);
    d.DeclareType("upload_thread", kEntity);
    d.DeclareType("effective_upload_order", kAttribute);
    Subscribe(T("bytes_uploaded")->itemRemoved, &TransferQueueManager::OnBytesUploadedRemoved);

    d.RelateTypes("upload_entry", "user", Many, One);
    d.RelateTypes("upload_entry", "shared_file", Many, One);
    d.RelateTypes("upload_entry", "upload_socket", One, One);
    d.RelateTypes("upload_entry", "upload_file", One, One);
    d.RelateTypes("upload_entry", "read_position", Many, One);
    d.RelateTypes("upload_entry", "upload_entry_status", Many, One);
    d.RelateTypes("upload_entry", "upload_order", One, One);
    d.RelateTypes("upload_entry", "transfer_req", One, One);
    d.RelateTypes("upload_entry_status", "is_active", Many, One);
    d.RelateTypes("upload_entry", "filename_as_requested", Many, One);
    d.RelateTypes("upload_entry", "upload_start_time", Many, One);
    d.RelateTypes("upload_entry", "bytes_uploaded", Many, One);
    d.RelateTypes("upload_entry", "last_status_change_time", Many, One);
    d.RelateTypes("upload_entry", "last_receipt_time", One, One);
    d.RelateTypes("upload_entry", "last_speed_measurement_time", One, One);
    d.RelateTypes("upload_entry", "bytes_per_second", One, One);
    d.RelateTypes("upload_entry", "bytes_since_last_receipt", One, One);
    d.RelateTypes("upload_entry", "upload_thread", One, One);
    d.RelateTypes("upload_entry", "effective_upload_order", Many, One);

    // The monotonic stamp and the offer of an upload go with its entry.
    Subscribe(T("upload_entry")->itemRemoved, &TransferQueueManager::OnUploadEntryRemoved);
}

void TransferQueueManager::DeclareCompleteTypes()
{
    d.DeclareType("complete_download", kEntity, true);
    d.DeclareType("complete_download_folder", kLink);
    d.DeclareType("complete_download_relative_folder", kLink);
    d.DeclareType("complete_download_filename", kAttribute);
    d.DeclareType("complete_download_file_size", kAttribute);
    d.DeclareType("complete_download_completion_time", kAttribute);
    d.RelateTypes("complete_download", "user", Many, One);
    d.RelateTypes("complete_download", "complete_download_folder", Many, One);
    d.RelateTypes("complete_download", "complete_download_relative_folder", Many, One);
    d.RelateTypes("complete_download", "complete_download_filename", Many, One);
    d.RelateTypes("complete_download", "complete_download_completion_time", Many, One);
    d.RelateTypes("complete_download", "complete_download_file_size", Many, One);
    d.RelateTypes("complete_download", "search_request_text", Many, One);

    d.DeclareType("empty_share_check_status", kAttribute);
    d.DeclareType("sent_empty_share_warning_message", kAttribute);
    d.RelateTypes("user", "empty_share_check_status", Many, One);
    d.RelateTypes("user", "sent_empty_share_warning_message", Many, One);
}

// The partial files of the queue as it was loaded: their paths are worked out
// a slice at a time (a queue may hold 100,000 downloads), then the files are
// looked at on a worker. Only a partial file that the record kept with it
// gives to the download's source is its progress: one begun for another file
// of the name is not. A partial file that is gone may have been filed by a
// run that ended before it saved the outcome: the file filed is found by its
// record, and so is the file of a row saved complete with its partial file's
// path.
struct TransferQueueManager::HeldSearch {
    struct Partial {
        qint64 order;
        QString path;
        QString root;
        FileSource source;
        QString complete; // the plain name in "complete"
    };
    quint64 after = 0; // the creation number of the last download looked at
    quint64 end = 0; // the first one made after the load, which are not
    std::vector<Partial> partials;
    QTimer slices;
};

TransferQueueManager::TransferQueueManager(QObject* parent)
    : QObject(parent)
{
    transferQueueManager = this;
    m_clock.start();

    DeclareDownloadTypes();
    Subscribe(T("write_position")->itemRemoved, &TransferQueueManager::OnWritePositionRemoved);
    Subscribe(T("last_receipt_time")->itemRemoved, &TransferQueueManager::OnLastReceiptTimeRemoved);
    Subscribe(T("last_speed_measurement_time")->itemRemoved,
        &TransferQueueManager::OnLastSpeedMeasurementTimeRemoved);
    Subscribe(T("bytes_per_second")->itemRemoved, &TransferQueueManager::OnBytesPerSecondRemoved);
    Subscribe(
        T("bytes_since_last_receipt")->itemRemoved, &TransferQueueManager::OnBytesSinceLastReceiptRemoved);

    Subscribe(T("download_entry")->itemRemoved, &TransferQueueManager::OnDownloadEntryRemoved);
    SaveWhole("download_entry");
    for (const char* type :
        { "user", "file_name", "remote_folder", "file_size", "download_folder", "download_entry_status",
            "download_order", "subfolder_save_level", "partial_file_name", "download_file_path" })
        SaveWhenLinked(type, "download_entry");

    DeclareUploadTypes();

    // A user coming online: every user item to is_online, fired on connection.
    auto* root = new PathNode(&d, "user");
    new PathNode(root, "is_online", PathConnectTrigger);
    d.AddPathEventHandler(root,
        Register(new EventHandler<TransferQueueManager, ItemPtr>(this, &TransferQueueManager::OnUserOnline)));

    PeerMessenger* pm = peerMessenger;
    if (pm)
        connect(
            pm, &PeerMessenger::FileTransferRequested, this, &TransferQueueManager::OnFileTransferRequest);
    settings.SetDefault("download_folder", Value((QDir::homePath() + QStringLiteral("/Marrowby Downloads"))));
    if (pm) {
        connect(pm, &PeerMessenger::FileConnectionRequested, this, &TransferQueueManager::OnFileConnection);
        connect(
            pm, &PeerMessenger::QueueUploadRequested, this, &TransferQueueManager::OnQueueUploadRequested);
        connect(pm, &PeerMessenger::QueueDownloadRequested, this,
            &TransferQueueManager::OnQueueDownloadRequested);
        connect(pm, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted);
        connect(
            pm, &PeerMessenger::FileTransferResponse, this, &TransferQueueManager::OnFileTransferResponse);
        connect(pm, &PeerMessenger::UploadFailed, this, &TransferQueueManager::OnUploadFailedNotification);
        connect(pm, &PeerMessenger::UploadDenied, this, &TransferQueueManager::OnUploadDeniedNotification);
        connect(pm, &PeerMessenger::UploadPlaceInLineRequested, this,
            &TransferQueueManager::OnUploadPlaceInLineRequested);
        connect(pm, &PeerMessenger::ConnectionForUserFailed, this,
            &TransferQueueManager::OnConnectionForUserFailed);
    }

    settings.SetDefault("transfer_order_counter", "1");
    settings.Set("transfer_req_counter", "1");

    T("download_entry_status")->GetItem("downloading").NewItem("is_active");
    for (const char* word : { "connecting", "uploading", "requesting", "waiting for offset" })
        T("upload_entry_status")->GetItem(word).NewItem("is_active");

    if (timerManager) {
        connect(
            timerManager->HalfMinuteTimer(), &QTimer::timeout, this, &TransferQueueManager::EveryHalfMinute);
    }

    if (!settings.Has("upload_speed_limit")) {
        settings.Set("upload_speed_limit", "0");
        settings.Set("upload_speed_limit_enabled", "no");
    }

    if (pm)
        connect(pm, &PeerMessenger::DownloadPlaceInLine, this, &TransferQueueManager::OnDownloadPlaceInLine);
    d.DeclareType("denial_reason", kAttribute);
    d.RelateTypes("denial_reason", "download_entry", One, Many);
    d.RelateTypes("denial_reason", "upload_entry", One, Many);
    settings.Set("upload_slots", "1");

    DeclareCompleteTypes();

    if (pm)
        connect(pm, &PeerMessenger::UserShare, this, &TransferQueueManager::OnUserShare);
    settings.Set("check_for_empty_shares", "no");
    settings.Set("empty_share_message",
        "It looks like you're not sharing any files. Please share something before downloading anything from "
        "my "
        "own shares. Thanks.");
    settings.Set("max_queued_uploads_per_user", "200");

    d.DeclareType("excluded_download_extension", kEntity);
    SaveWhole("excluded_download_extension");

    // Search answers tell whether a slot is free and how many wait.
    if (sharedFoldersManager)
        sharedFoldersManager->SetUploadStateProvider(
            [this] { return IsFreeToUpload(); }, [this] { return QueuedUploadCount(); });
}

TransferQueueManager::~TransferQueueManager()
{
    FinishDiskSteps();
    for (ItemPtr item : T("upload_thread")->GetItems()) {
        if (auto* thread = item.AsPointer<UploadThread>()) {
            thread->SignalExit();
            thread->wait();
        }
    }
    for (ItemPtr item : T("download_thread")->GetItems()) {
        if (auto* thread = item.AsPointer<DownloadThread>()) {
            thread->SignalExit();
            thread->wait();
        }
    }
    if (sharedFoldersManager)
        sharedFoldersManager->SetUploadStateProvider({}, {});
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

void TransferQueueManager::FinishDiskSteps()
{
    // Long enough for a slow disk to sync a few files, short enough for a
    // system shutdown.
    m_disk.Finish(10000);
}

void TransferQueueManager::DataLoaded()
{
    m_slashFoldersKnown = false;
    ItemPtr queued = T("download_entry_status")->GetItem("queued");
    const ItemSet downloads = T("download_entry")->GetItems();
    // Rows saved before partial files had records name their partial files
    // in the downloads folder of the setting: they keep that folder, and
    // the file their row names is recorded for them when they resume.
    ItemPtr before
        = settings.IsYes(kRecordsKept) ? ItemPtr() : T("download_folder")->GetItem(Value(DownloadRoot()));
    for (ItemPtr download : downloads) {
        if (download["download_entry_status"].Text() == "complete")
            continue;
        download += queued;
        if (before && !download["download_folder"])
            download += before;
    }
    settings.Set(kRecordsKept, "yes");
    if (gp_server) {
        for (ItemPtr user : downloads.GetItems("user"))
            gp_server->TrackUser(user.AsString());
    }
    emit TransfersLoaded();
    FindHeldBytes();
    LetStaleRecordsGo();
    DetermineUploadSpeedLimit();
    if (settings.GetInt("upload_slots") < 1)
        settings.Set("upload_slots", "1");
    if (settings.GetInt("max_queued_uploads_per_user") <= 9)
        settings.Set("max_queued_uploads_per_user", "10");
}

bool TransferQueueManager::LostFiling(ItemPtr download)
{
    ItemPtr kept = download["download_file_path"];
    return StatusOf(download, "download_entry_status") == QLatin1String("complete") && kept
        && !kept.AsString().startsWith(QStringLiteral("complete/"));
}

qint64 TransferQueueManager::HeldBytes(ItemPtr download) const
{
    const auto held = m_heldBytes.find(download.Get());
    return held == m_heldBytes.end() ? 0 : held->second;
}

void TransferQueueManager::FindHeldBytes()
{
    if (!m_heldSearch) {
        m_heldSearch = std::make_unique<HeldSearch>();
        m_heldSearch->slices.setSingleShot(true);
        m_heldSearch->slices.setInterval(0);
        connect(&m_heldSearch->slices, &QTimer::timeout, this, [this] { FindHeldBytesSlice(); });
    }
    m_heldSearch->after = 0;
    m_heldSearch->end = d.NextSerial();
    m_heldSearch->partials.clear();
    m_heldSearch->slices.start();
}

void TransferQueueManager::FindHeldBytesSlice()
{
    HeldSearch& search = *m_heldSearch;
    const QDeadlineTimer turn = SlicedWork::Turn();
    ItemPtr complete = T("download_entry_status")->HasItem("complete");
    const ChunkedSet& downloads = T("download_entry")->Items();
    int done = 0;
    for (ChunkedSet::Position p = downloads.After(search.after);
         downloads.Valid(p) && downloads.At(p)->serial < search.end; downloads.Advance(p)) {
        ItemPtr download = downloads.At(p);
        search.after = download.Serial();
        if (download["download_entry_status"] != complete || LostFiling(download)) {
            const QString path = LocalPath(GetDownloadTargetPath(download, false));
            if (!path.isEmpty())
                search.partials.push_back({ download["download_order"].AsInt64(), path,
                    DownloadRootOf(download), SourceOf(download),
                    LocalPath(GetDownloadTargetPath(download, true)) });
        }
        if (++done % SlicedWork::kItemsAtOnce == 0 && turn.hasExpired()) {
            search.slices.start();
            return;
        }
    }
    std::vector<HeldSearch::Partial> partials = std::exchange(search.partials, {});
    if (partials.empty())
        return;
    m_disk.Look([this, partials = std::move(partials)]() -> OrderedWorker::Outcome {
        std::vector<std::pair<qint64, qint64>> sizes;
        std::vector<std::pair<qint64, QString>> filed;
        for (const HeldSearch::Partial& partial : partials) {
            const QFileInfo info(partial.path);
            const SourceRecords records(partial.root);
            if (info.isFile() && info.size() > 0 && records.Read(partial.path) == partial.source)
                sizes.emplace_back(partial.order, info.size());
            else if (!info.exists() && !info.isSymLink()) {
                QString found = FindFiledFile(partial.complete, records, partial.source);
                if (!found.isEmpty())
                    filed.emplace_back(partial.order, std::move(found));
            }
        }
        return [this, sizes = std::move(sizes), filed = std::move(filed)] {
            for (const auto& [order, found] : filed) {
                // Begun again or filed since.
                ItemPtr download = DownloadOfOrder(order);
                if (!download || download.IsConnected("download_thread")
                    || m_disk.IsBeginning(order)
                    || (StatusOf(download, "download_entry_status") == QLatin1String("complete")
                        && !LostFiling(download)))
                    continue;
                KeepDownloadFile(download, DownloadRootOf(download), found);
                SetDownloadEntryStatus(download, QStringLiteral("complete"));
            }
            for (const auto& [order, size] : sizes) {
                // Gone since, or running: a transfer reports its own position.
                ItemPtr download = T("download_order")->HasItem(Value(static_cast<long long>(order)))["download_entry"];
                if (!download || download["write_position"] || m_heldBytes.count(download.Get())
                    || StatusOf(download, "download_entry_status") == QLatin1String("complete"))
                    continue;
                m_heldBytes[download.Get()] = qMin(size, download["file_size"].AsInt64());
                emit DownloadProgressed(download);
            }
        };
    }, [](const QString& why) {
        // Rows then show their progress when their transfers run.
        Log(kArea, 1, QStringLiteral("Could not read the sizes of the partial files: %1").arg(why));
    });
}

void TransferQueueManager::NoData()
{
    T("excluded_download_extension")->NewItem(".ini");
    settings.Set(kRecordsKept, "yes");
}

// Removal handlers: an item of these types holds the address of an object
// that the engine made for a running transfer.
void TransferQueueManager::OnWritePositionRemoved(ItemPtr item)
{
    delete item.AsPointer<qint64>();
}
void TransferQueueManager::OnLastReceiptTimeRemoved(ItemPtr item)
{
    delete item.AsPointer<QDateTime>();
}
void TransferQueueManager::OnLastSpeedMeasurementTimeRemoved(ItemPtr item)
{
    delete item.AsPointer<QDateTime>();
}
void TransferQueueManager::OnBytesPerSecondRemoved(ItemPtr item)
{
    delete item.AsPointer<int>();
}
void TransferQueueManager::OnBytesSinceLastReceiptRemoved(ItemPtr item)
{
    delete item.AsPointer<qint64>();
}
void TransferQueueManager::OnBytesUploadedRemoved(ItemPtr item)
{
    delete item.AsPointer<qint64>();
}
void TransferQueueManager::OnDownloadEntryRemoved(ItemPtr item)
{
    m_retries.erase(item.Get());
    m_heldBytes.erase(item.Get());
}

void TransferQueueManager::OnUploadEntryRemoved(ItemPtr item)
{
    m_uploadStatusChanged.erase(item.Get());
    m_offers.erase(item.Get());
    m_queuedUploads.Erase(item);
}
