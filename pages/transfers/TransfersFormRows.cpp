// The Transfers page's rows: made for new and saved transfers (the saved ones
// in slices), their status texts and tool tips, and the aggregate status of
// folder and user rows.
#include "TransfersForm.h"
#include "TransferRow.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include "shell/TreeWidget.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/SlicedWork.h"
#include "store/ToQString.h"
#include "WidgetFunctions.h"
#include "transfers/TransferQueueManager.h"
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTimer>

namespace {

// Saved downloads' rows are made a turn at a time, the time read every so
// many rows.
constexpr size_t kRowsAtOnce = 64;

// Longest reason a status cell or its tool tip shows; a peer's text may be
// longer.
constexpr int kMaxReasonShown = 500;
// Why a transfer ended without its file, as its status cell's tool tip: plain
// text (a peer's reason is isolated like its other texts), bounded.
QString ReasonTip(const QString& word, QString reason)
{
    if (!(TransfersForm::IsFailedStatus(word) || word == QLatin1String("queued")) || reason.isEmpty())
        return QString();
    reason = TextBound::Shown(reason, kMaxReasonShown);
    if (word == QLatin1String("denied"))
        reason = IsolatedText(reason);
    return Qt::convertFromPlainText(reason, Qt::WhiteSpaceNormal);
}

QString AggregateOf(const ItemSet& entries, const char* statusType, bool downloads)
{
    Type* statuses = d.GetType(statusType);
    RowFigures figures;
    for (ItemPtr entry : entries) {
        const Item* status = entry.Get()->connections.First(statuses);
        TransfersForm::CountStatus(figures, status ? status->value.view() : std::string_view(), downloads);
    }
    return TransfersForm::StatusWord(figures, downloads);
}
} // namespace

QString TransfersForm::GetDownloadEntriesAggregateStatus(const ItemSet& entries)
{
    return AggregateOf(entries, "download_entry_status", true);
}

QString TransfersForm::GetUploadEntriesAggregateStatus(const ItemSet& entries)
{
    return AggregateOf(entries, "upload_entry_status", false);
}

void TransfersForm::CountStatus(RowFigures& figures, std::string_view word, bool downloads)
{
    ++figures.entries;
    if (word == (downloads ? std::string_view("downloading") : std::string_view("uploading")))
        ++figures.active;
    else if (word == "queued")
        ++figures.queued;
    else if (word == "complete")
        ++figures.complete;
    else if (word == "denied")
        ++figures.denied;
    else if (word == "aborted")
        ++figures.aborted;
}

QString TransfersForm::StatusWord(const RowFigures& figures, bool downloads)
{
    // The active word if one is active, else queued, complete (all of
    // them), denied, aborted, or nothing.
    if (figures.active > 0)
        return downloads ? QStringLiteral("downloading") : QStringLiteral("uploading");
    if (figures.queued > 0)
        return QStringLiteral("queued");
    if (figures.complete == figures.entries)
        return QStringLiteral("complete");
    if (figures.denied > 0)
        return QStringLiteral("denied");
    if (figures.aborted > 0)
        return QStringLiteral("aborted");
    return QString();
}

QString TransfersForm::AggregateBeneath(const TreeKind& kind, QTreeWidgetItem* row) const
{
    return StatusWord(FiguresOf(row), &kind == &Downloads());
}

QTreeWidgetItem* TransfersForm::MakeRow(const TreeKind& kind, ItemPtr entry, ItemPtr user, ItemPtr folder,
    const QString& fileText, qint64 size, bool expandUser, bool expandFolder)
{
    QTreeWidgetItem* userRow = user[kind.userNode].AsPointer<QTreeWidgetItem>();
    ItemPtr userNode = user[kind.userNode];
    if (!userRow) {
        // While the saved downloads are built, user rows stay out of the tree
        // until they are complete, so filling them notifies no view.
        userRow = m_bulkBuild ? new TransferRow : new TransferRow(kind.tree);
        if (m_bulkBuild)
            m_pendingUserRows.append(userRow);
        userNode = kind.userNode->GetItem(Value(userRow));
        userNode += user;
        userRow->setText(0, RowName(user.AsString()));
        userRow->setIcon(0, user.IsConnected("is_online") ? m_onlineIcon : m_offlineIcon);
        if (expandUser)
            userRow->setExpanded(true);
    }

    // The folder row of this user and folder: a folder has few rows, one per
    // user that has transfers in it.
    ItemPtr folderNode;
    if (m_bulkBuild)
        folderNode = m_bulkFolderNodes.value({ folder.Get(), userRow });
    else
        folder.Get()->connections.ForEachOfType(kind.folderNode, [&](Item* node) {
            if (!folderNode && node->connections.Contains(userNode.Get()))
                folderNode = node;
        });
    QTreeWidgetItem* folderRow = folderNode.AsPointer<QTreeWidgetItem>();
    bool newFolder = false;
    if (!folderRow) {
        folderRow = new TransferRow(userRow);
        folderNode = kind.folderNode->GetItem(Value(folderRow));
        folderNode += userNode;
        folderNode += folder;
        if (m_bulkBuild) {
            m_bulkFolderNodes.insert({ folder.Get(), userRow }, folderNode.Get());
            auto text = m_bulkFolderTexts.find(folder.Get());
            if (text == m_bulkFolderTexts.end())
                text = m_bulkFolderTexts.insert(
                    folder.Get(), RowName(ReversePathname(folder.AsString())));
            folderRow->setText(1, *text);
        } else {
            folderRow->setText(1, RowName(ReversePathname(folder.AsString())));
        }
        newFolder = true;
    }

    auto* fileRow = new TransferRow;
    // Nothing goes beneath a file row: the view lays it out without asking.
    fileRow->setFlags(fileRow->flags() | Qt::ItemNeverHasChildren);
    fileRow->setText(2, RowName(fileText));
    folderRow->addChild(fileRow);
    SetFigure(fileRow, 7, CommafyNumber(size));
    ItemPtr fileNode = kind.fileNode->GetItem(Value(fileRow));
    entry += fileNode;
    fileNode += folderNode;
    Recount(kind, entry, fileRow);
    // A childless row does not keep its expansion: open the folder once its
    // first file row is in. While the engine adds many downloads in sight, a
    // new folder opens once they are all in: the view lays out every open
    // row again for the rows that come in each turn (out of sight, once it
    // shows).
    if (newFolder && expandFolder) {
        if (&kind == &Downloads() && !m_bulkBuild && kind.tree->isVisible() && transferQueueManager
            && transferQueueManager->AddingDownloads())
            m_foldersToOpen.insert(folderRow);
        else
            folderRow->setExpanded(true);
    }
    return fileRow;
}

void TransfersForm::OnDownloadEntryAdded(ItemPtr entry)
{
    // The watch fires again when one of the four is replaced later: a size
    // the peer gives anew is shown.
    if (QTreeWidgetItem* row = DownloadRow(entry)) {
        SetFigure(row, 7, CommafyNumber(entry["file_size"].AsInt64()));
        Recount(Downloads(), entry, row);
        if (row->treeWidget()) {
            UpdateParentStatus(Downloads(), row->parent());
            UpdateParentStatus(Downloads(), row->parent()->parent());
        }
        return;
    }
    if (!m_transfersLoaded || entry.IsConnected("download_list_node"))
        return;
    if (m_buildingRows)
        QueueSavedRow(entry);
    else
        MakeDownloadRow(entry);
}

void TransfersForm::MakeDownloadRow(ItemPtr entry)
{
    QTreeWidgetItem* row = MakeRow(Downloads(), entry, entry["user"], entry["remote_folder"],
        entry["file_name"].AsString(), entry["file_size"].AsInt64(), m_expandDownloadUsers, m_expandDownloadFolders);
    if (ItemPtr status = entry["download_entry_status"])
        ApplyStatus(Downloads(), entry, status.AsString(), row);
}

void TransfersForm::OnUploadEntryAdded(ItemPtr entry)
{
    if (entry.IsConnected("upload_list_node") || m_newUploads.contains(entry.Get()))
        return;
    // The rows of new uploads go in together a few times a second: the tree
    // is laid out again after rows go in, and with a crowd queueing it would
    // be laid out whole in every pass of the event loop.
    m_newUploadOrder.push_back(entry.Get());
    m_newUploads.insert(entry.Get());
    if (!m_uploadRowTimer->isActive())
        m_uploadRowTimer->start();
}

void TransfersForm::AddUploadRows()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    size_t next = 0;
    for (size_t made = 0; next < m_newUploadOrder.size();) {
        Item* entry = m_newUploadOrder[next++];
        if (!m_newUploads.remove(entry))
            continue; // removed meanwhile
        MakeUploadRow(ItemPtr(entry));
        if (++made % kRowsAtOnce == 0 && turn.hasExpired())
            break;
    }
    m_newUploadOrder.erase(m_newUploadOrder.begin(), m_newUploadOrder.begin() + qsizetype(next));
    if (!m_newUploadOrder.empty())
        m_uploadRowTimer->start();
}

void TransfersForm::MakeUploadRow(ItemPtr entry)
{
    if (entry.IsConnected("upload_list_node"))
        return;
    ItemPtr file = entry["shared_file"];
    ItemPtr folder = file["shared_file_folder"];
    if (!folder)
        return;
    QTreeWidgetItem* row = MakeRow(Uploads(), entry, entry["user"], folder,
        ToQString(GetFileName(file["shared_file_name"].Text())), file["shared_file_size"].AsInt64(),
        m_expandUploadUsers, m_expandUploadFolders);
    // Its status came while it waited for its row.
    if (ItemPtr status = entry["upload_entry_status"])
        ApplyStatus(Uploads(), entry, status.AsString(), row);
}

void TransfersForm::OnTransfersLoaded()
{
    m_transfersLoaded = true;
    m_buildingRows = true;
    for (ItemPtr entry : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true))
        QueueSavedRow(entry);
    // A short queue shows at once; a long one once the window is up.
    if (m_unbuiltOrder.size() <= kRowsAtOnce)
        BuildSavedRows();
    else
        m_buildTimer->start();
}

void TransfersForm::QueueSavedRow(ItemPtr entry)
{
    if (entry.IsConnected("download_list_node") || m_unbuilt.contains(entry.Get()))
        return;
    m_unbuilt.insert(entry.Get());
    m_unbuiltOrder.push_back(entry.Get());
}

void TransfersForm::BuildSavedRows()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    if (!m_buildingRows) {
        ShowRestoredBars(turn);
        return;
    }
    m_bulkBuild = true;
    // The colours read once per slice: the settings may change in between.
    m_bulkBrushes.clear();
    size_t made = 0;
    while (m_nextUnbuilt < m_unbuiltOrder.size()) {
        // The list keeps the order; the set knows which entries are still there.
        Item* next = m_unbuiltOrder[m_nextUnbuilt++];
        if (!m_unbuilt.remove(next))
            continue;
        ItemPtr entry(next);
        if (entry.IsConnected("download_list_node"))
            continue;
        MakeDownloadRow(entry);
        if (++made % kRowsAtOnce == 0 && turn.hasExpired())
            break;
    }
    // Putting the rows in the tree takes a slice of its own (once: a pass
    // whose budget others have spent is as good as any).
    if (m_nextUnbuilt < m_unbuiltOrder.size() || (made > 0 && turn.hasExpired())) {
        m_bulkBuild = false;
        m_buildTimer->start();
        return;
    }
    AddSavedRows(turn);
}

void TransfersForm::AddSavedRows(const QDeadlineTimer& turn)
{
    m_buildingRows = false;
    m_unbuilt.clear();
    std::vector<Item*>().swap(m_unbuiltOrder);
    m_nextUnbuilt = 0;
    // Parent rows once, now that every row is made; then all user rows go
    // into the tree at once.
    for (QTreeWidgetItem* userRow : std::as_const(m_pendingUserRows)) {
        for (int f = 0; f < userRow->childCount(); ++f)
            UpdateParentStatus(Downloads(), userRow->child(f), !m_expandDownloadFolders);
        UpdateParentStatus(Downloads(), userRow, !m_expandDownloadUsers);
    }
    m_bulkBuild = false;
    m_bulkBrushes.clear();
    m_bulkFolderNodes.clear();
    m_bulkFolderTexts.clear();
    const QList<QTreeWidgetItem*> added = std::exchange(m_pendingUserRows, {});
    const bool wasEmpty = m_downloadsList->topLevelItemCount() == 0;
    m_downloadsList->addTopLevelItems(added);
    if (wasEmpty && m_expandDownloadUsers && m_expandDownloadFolders) {
        // Every row the tree holds is a new one: opened in one go, and
        // quietly, since a new row's cells are already as an open row shows
        // them.
        const QSignalBlocker quiet(m_downloadsList);
        m_downloadsList->expandAll();
    } else {
        for (QTreeWidgetItem* userRow : added) {
            if (m_expandDownloadUsers)
                userRow->setExpanded(true);
            for (int f = 0; m_expandDownloadFolders && f < userRow->childCount(); ++f)
                userRow->child(f)->setExpanded(true);
        }
    }
    UpdateActiveTransferCounts();
    // The completions that came while the rows were built.
    for (ItemPtr entry : m_pendingComplete->Items())
        emit DownloadComplete(entry);
    // Their bars follow, a slice at a time.
    m_unbarredUserRows = added;
    m_unbarredFolders = -1;
    ShowRestoredBars(turn);
}

void TransfersForm::UpdateParentStatus(const TreeKind& kind, QTreeWidgetItem* row)
{
    UpdateParentStatus(kind, row, !row->isExpanded());
}

void TransfersForm::UpdateParentStatus(const TreeKind& kind, QTreeWidgetItem* row, bool collapsed)
{
    const QString word = AggregateBeneath(kind, row);
    if (collapsed)
        row->setText(3, word);
    ColorRow(row, word);
    // Time left and speed only while a transfer beneath moves; the progress
    // of transfers that all failed is no progress, and a bar shown follows
    // the sums.
    const bool downloads = &kind == &Downloads();
    if (word != (downloads ? QLatin1String("downloading") : QLatin1String("uploading")))
        ClearMotion(row);
    RefreshParentBar(kind, row, false);
}

void TransfersForm::ClearMotion(QTreeWidgetItem* row)
{
    for (int column : { 5, 6 }) {
        if (!row->text(column).isEmpty())
            row->setText(column, QString());
    }
}

void TransfersForm::ApplyStatus(const TreeKind& kind, ItemPtr entry, const QString& word, QTreeWidgetItem* row)
{
    if (!row)
        row = entry[kind.fileNode].AsPointer<QTreeWidgetItem>();
    if (!row)
        return;
    Recount(kind, entry, row);
    ColorRow(row, word);
    if (word == QLatin1String("complete")) {
        if (&kind == &Downloads()) {
            m_pendingComplete->Insert(entry);
            emit DownloadComplete(entry);
        }
        row->setText(4, QString());
    }
    if (!entry[kind.statusType].IsConnected("is_active"))
        ClearMotion(row);
    // A row built out of the tree has no bar yet.
    if (!m_bulkBuild)
        DropFullBarOfFailure(kind.tree, row, word);
    // An upload is offered with the file's size of that moment.
    if (&kind == &Uploads())
        SetFigure(row, 7, CommafyNumber(entry["shared_file"]["shared_file_size"].AsInt64()));
    // A new row has no place in line to clear: its cell stays unset.
    if (&kind == &Downloads() && !row->data(8, Qt::DisplayRole).isNull())
        row->setText(8, QString());
    ShowStatusText(entry, row, word);
    // A row made but not yet in the tree has its parents done when it goes in.
    if (m_bulkBuild || !row->treeWidget())
        return;
    QTreeWidgetItem* folderRow = row->parent();
    UpdateParentStatus(kind, folderRow);
    UpdateParentStatus(kind, folderRow->parent());
    // Once for all the changes of a turn: a folder of many files queued at
    // once counts the active transfers once.
    QueueCountUpdate();
}

void TransfersForm::ShowStatusText(ItemPtr entry, QTreeWidgetItem* row, const QString& word)
{
    // A denial reason is the peer's text. A queued download with a reason
    // waits after a failure (its file connection could not be opened) and
    // says which.
    const QString reason = entry["denial_reason"].AsString();
    const bool denied = word == QLatin1String("denied");
    const bool waits = word == QLatin1String("queued") && !reason.isEmpty() && entry["download_entry_status"];
    row->setText(3,
        denied ? RowName(reason, kMaxReasonShown).toLower()
        : waits ? word.toLower() + QStringLiteral(": ") + TextBound::Shown(reason, kMaxReasonShown).toLower()
                : word.toLower());
    QString tip = waits || word != QLatin1String("queued") ? ReasonTip(word, reason) : QString();
    // What the engine did about the partial file (another file's bytes at its
    // name, a file that changed since it was begun) while it goes on.
    const QString note = entry["download_note"].AsString();
    if (tip.isEmpty() && !note.isEmpty())
        tip = Qt::convertFromPlainText(TextBound::Shown(note, kMaxReasonShown), Qt::WhiteSpaceNormal);
    // Most rows have none: an empty tip is not kept on each.
    if (!tip.isEmpty() || !row->data(3, Qt::ToolTipRole).isNull())
        row->setToolTip(3, tip);
}

// A queue being loaded has no rows yet: its statuses cost nothing here.
void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& ci)
{
    if (DownloadRow(ci.first))
        ApplyStatus(Downloads(), ci.first, ci.second.AsString());
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& ci)
{
    if (UploadRow(ci.first))
        ApplyStatus(Uploads(), ci.first, ci.second.AsString());
}

void TransfersForm::OnDownloadEntryReasonChange(ConnectionInfo& ci)
{
    if (QTreeWidgetItem* row = DownloadRow(ci.first))
        ShowStatusText(ci.first, row, ci.first["download_entry_status"].AsString());
}

void TransfersForm::OnUploadEntryReasonChange(ConnectionInfo& ci)
{
    if (QTreeWidgetItem* row = UploadRow(ci.first))
        ShowStatusText(ci.first, row, ci.first["upload_entry_status"].AsString());
}
