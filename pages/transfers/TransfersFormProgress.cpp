// Progress, speed and time left of the Transfers page's rows and the sums on
// their folder and user rows; row colours by status; the half-minute clearing
// of stale uploads and the two clear boxes.
#include "TransfersForm.h"
#include "RowProgressBar.h"
#include "TransferRow.h"
#include "store/GeneralFunctions.h"
#include "store/SlicedWork.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <utility>
#include <vector>

QString TransfersForm::ProgressText(qint64 done, double percent)
{
    return QStringLiteral("%1 (%2%)").arg(CommafyNumber(done)).arg(percent, 0, 'f', 1);
}

QString TransfersForm::TimeLeftText(qint64 remaining, qint64 bytesPerSecond)
{
    const qint64 seconds = bytesPerSecond > 0 ? remaining / bytesPerSecond : 0;
    return QStringLiteral("   ") + FormatSeconds(long(seconds));
}

QString TransfersForm::SpeedText(qint64 bytesPerSecond)
{
    return QStringLiteral("%1").arg(double(bytesPerSecond) * (1.0 / 1024), 0, 'f', 1);
}

namespace {

enum class Sums { Done, Pending, Nothing };

Sums SumsFor(const std::string& word, const char* activeWord)
{
    if (word == "complete")
        return Sums::Done;
    if (word == activeWord || word == "queued" || word == "aborted")
        return Sums::Pending;
    return Sums::Nothing;
}

qint64 Position(ItemPtr entry, const char* positionType)
{
    const auto* position = entry[positionType].AsPointer<qint64>();
    return position ? *position : 0;
}

// A download's bytes: where its transfer is, or what its partial file held
// when it last ran or when the queue was loaded.
qint64 DownloadPosition(ItemPtr entry, const qint64* position)
{
    if (position)
        return *position;
    return transferQueueManager ? transferQueueManager->HeldBytes(entry) : 0;
}

void Add(Sums kind, qint64 size, qint64 position, qint64& done, qint64& remaining, qint64& total)
{
    if (kind == Sums::Done) {
        done += size;
        total += size;
    } else if (kind == Sums::Pending) {
        done += position;
        remaining += size - position;
        total += size;
    }
}

} // namespace

void TransfersForm::GetDownloadsProgressStats(
    const ItemSet& entries, qint64& done, qint64& remaining, qint64& total)
{
    done = remaining = total = 0;
    for (ItemPtr entry : entries) {
        Add(SumsFor(entry["download_entry_status"].Text(), "downloading"), entry["file_size"].AsInt64(),
            DownloadPosition(entry, entry["write_position"].AsPointer<qint64>()), done, remaining, total);
    }
}

void TransfersForm::GetUploadsProgressStats(const ItemSet& entries, qint64& done, qint64& remaining, qint64& total)
{
    done = remaining = total = 0;
    for (ItemPtr entry : entries) {
        Add(SumsFor(entry["upload_entry_status"].Text(), "uploading"),
            entry["shared_file"]["shared_file_size"].AsInt64(), Position(entry, "read_position"), done, remaining,
            total);
    }
}

RowFigures TransfersForm::EntryFigures(const TreeKind& kind, ItemPtr entry) const
{
    // Lookups by type read the entry's own connection list only.
    const bool downloads = &kind == &Downloads();
    const SumTypes& t = m_sumTypes[downloads ? 0 : 1];
    const ConnectionMap& links = entry.Get()->connections;
    const Item* status = links.First(t.status);
    const std::string_view word = status ? status->value.view() : std::string_view();
    RowFigures figures;
    CountStatus(figures, word, downloads);
    const Sums sums = figures.complete ? Sums::Done
        : (figures.active || figures.queued || figures.aborted) ? Sums::Pending
                                                                : Sums::Nothing;
    if (sums == Sums::Nothing)
        return figures;
    const qint64 size = downloads ? ItemPtr(links.First(t.size)).AsInt64()
                                  : ItemPtr(links.First(t.sharedFile))[t.size].AsInt64();
    const auto* position = ItemPtr(links.First(t.position)).AsPointer<qint64>();
    const qint64 at = downloads ? DownloadPosition(entry, position) : position ? *position : 0;
    Add(sums, size, at, figures.done, figures.remaining, figures.total);
    return figures;
}

void TransfersForm::Recount(const TreeKind& kind, ItemPtr entry, QTreeWidgetItem* row)
{
    RowFigures& own = FiguresOf(row);
    const RowFigures now = EntryFigures(kind, entry);
    QTreeWidgetItem* folderRow = row->parent();
    for (QTreeWidgetItem* parent : { folderRow, folderRow->parent() }) {
        RowFigures& sums = FiguresOf(parent);
        sums.Add(own, -1);
        sums.Add(now, 1);
    }
    own = now;
}

void TransfersForm::FitFigure(QTreeWidget* tree, int column, const QString& text)
{
    // Figures of one column differ in width by their length: a figure no
    // longer than one measured before fits, and is not measured.
    Fitted& fitted = m_fitted[tree == Downloads().tree ? 0 : 1][column];
    if (text.size() <= fitted.length)
        return;
    fitted.length = int(text.size());
    // The cell's text margins (or the bar's frame) on both sides, and a pixel
    // to spare.
    const int margin = 2 * (tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, tree) + 1)
        + (column == 4 ? 8 : 2);
    fitted.width = qMax(fitted.width, tree->fontMetrics().horizontalAdvance(text) + margin);
    if (tree->columnWidth(column) < fitted.width)
        tree->setColumnWidth(column, fitted.width);
}

void TransfersForm::SetFigure(QTreeWidgetItem* row, int column, const QString& text)
{
    if (QTreeWidget* tree = row->treeWidget())
        FitFigure(tree, column, text);
    else
        FitFigure(Downloads().tree, column, text); // a saved row, not in its tree yet
    row->setText(column, text);
}

void TransfersForm::FitColumns()
{
    for (int tree = 0; tree < 2; ++tree) {
        for (int column = 0; column < 9; ++column) {
            const int width = m_fitted[tree][column].width;
            if (width > m_kinds[tree].tree->columnWidth(column))
                m_kinds[tree].tree->setColumnWidth(column, width);
        }
    }
}

void TransfersForm::SetProgressBar(QTreeWidget* tree, QTreeWidgetItem* row, qint64 done, double percent)
{
    const QString text = ProgressText(done, percent);
    FitFigure(tree, 4, text);
    // Out of range (a position past the size) keeps the previous value, as
    // a progress bar does; a new bar has none yet.
    const QVariant shown = row->data(4, RowProgressBar::ValueRole);
    const int value = percent >= 0 && percent <= 100 ? int(percent) : shown.isValid() ? shown.toInt() : -1;
    // Each change repaints the bar's cell alone; one that changes nothing
    // repaints nothing.
    row->setData(4, RowProgressBar::TextRole, text);
    row->setData(4, RowProgressBar::ValueRole, value);
}

void TransfersForm::RefreshParentBar(const TreeKind& kind, QTreeWidgetItem* row, bool add)
{
    const Value key(row);
    const bool userRow = !kind.userNode->HasItem(key).IsNull();
    if ((!userRow && !kind.folderNode->HasItem(key)) || !row->treeWidget())
        return;
    // Parents show the bar of what moves, waits or is done beneath them; an
    // open user row of one folder leaves it to the folder row.
    const QString word = AggregateBeneath(kind, row);
    const bool shows = (word == QLatin1String("queued") || word == QLatin1String("complete")
                           || word == (&kind == &Downloads() ? "downloading" : "uploading"))
        && !(userRow && row->isExpanded() && row->childCount() < 2);
    const RowFigures& sums = FiguresOf(row);
    const bool has = row->data(4, RowProgressBar::ValueRole).isValid();
    if (!shows || sums.total == 0) {
        DropProgressBar(kind.tree, row);
        return;
    }
    if (has || (add && sums.done > 0))
        SetProgressBar(kind.tree, row, sums.done, double(sums.done * 100) / double(sums.total));
}

void TransfersForm::ShowRestoredBars(const QDeadlineTimer& turn)
{
    // Folder rows are counted down: one removed meanwhile moves those
    // still to be done no further.
    const TreeKind& kind = Downloads();
    size_t rows = 0;
    while (!m_unbarredUserRows.isEmpty()) {
        QTreeWidgetItem* userRow = m_unbarredUserRows.front();
        if (m_unbarredFolders < 0)
            m_unbarredFolders = userRow->childCount();
        while (m_unbarredFolders > 0) {
            QTreeWidgetItem* folderRow = userRow->child(--m_unbarredFolders);
            if (!folderRow)
                continue;
            // The figures say which folders hold complete files, and which
            // of their rows.
            const bool holdsComplete = FiguresOf(folderRow).complete > 0;
            for (int k = 0; holdsComplete && k < folderRow->childCount(); ++k) {
                QTreeWidgetItem* row = folderRow->child(k);
                if (FiguresOf(row).complete > 0)
                    SetProgressBar(kind.tree, row, FiguresOf(row).done, 100.0);
            }
            RefreshParentBar(kind, folderRow, true);
            rows += (holdsComplete ? size_t(folderRow->childCount()) : 0) + 1;
            if (rows >= SlicedWork::kItemsAtOnce && turn.hasExpired()) {
                m_buildTimer->start();
                return;
            }
        }
        RefreshParentBar(kind, userRow, true);
        m_unbarredUserRows.removeFirst();
        m_unbarredFolders = -1;
    }
}

void TransfersForm::DropFullBarOfFailure(QTreeWidget* tree, QTreeWidgetItem* row, const QString& word)
{
    // A full bar says that a file is complete: one that failed with every
    // byte there (it could not be moved into place) shows none.
    const QVariant value = row->data(4, RowProgressBar::ValueRole);
    if (value.isValid() && value.toInt() >= 100 && IsFailedStatus(word))
        DropProgressBar(tree, row);
}

void TransfersForm::QueueProgress(int tree, ItemPtr entry, qint64 position, qint64 size, qint64 speed)
{
    m_queuedReports[tree].insert(entry.Get(), Report { ++m_reportCount, position, size, speed });
    if (!m_progressTimer->isActive())
        m_progressTimer->start();
}

void TransfersForm::ShowQueuedProgress()
{
    if (m_buildingRows) {
        m_progressTimer->start();
        return;
    }
    for (int tree = 0; tree < 2; ++tree) {
        const TreeKind& kind = m_kinds[tree];
        std::vector<std::pair<Item*, Report>> reports;
        const QHash<Item*, Report> queued = std::exchange(m_queuedReports[tree], {});
        reports.reserve(size_t(queued.size()));
        for (auto it = queued.begin(); it != queued.end(); ++it)
            reports.emplace_back(it.key(), it.value());
        std::sort(reports.begin(), reports.end(),
            [](const auto& a, const auto& b) { return a.second.order < b.second.order; });
        // File rows in the order of their reports; then each folder row once,
        // with the speed of its last report, and a user row with its last
        // reported folder, as the last report alone would leave them.
        struct Parent {
            QTreeWidgetItem* folderRow;
            qint64 speed;
            bool ended; // a report beneath is of a transfer that has ended since
        };
        std::vector<Parent> parents;
        QHash<QTreeWidgetItem*, size_t> folderAt;
        QHash<QTreeWidgetItem*, QTreeWidgetItem*> lastFolderOfUser;
        for (const auto& [entry, report] : reports) {
            auto* row = ItemPtr(entry)[kind.fileNode].AsPointer<QTreeWidgetItem>();
            if (!row)
                continue;
            const ItemPtr status = ItemPtr(entry)[kind.statusType];
            const bool ended = !status.IsConnected("is_active");
            Recount(kind, ItemPtr(entry), row);
            ShowFileProgress(kind, row, report, ended);
            if (ended)
                DropFullBarOfFailure(kind.tree, row, status.AsString());
            QTreeWidgetItem* folderRow = row->parent();
            bool folderEnded = ended;
            const auto known = folderAt.constFind(folderRow);
            if (known != folderAt.constEnd()) {
                parents[*known].folderRow = nullptr;
                folderEnded |= parents[*known].ended;
            }
            folderAt.insert(folderRow, parents.size());
            parents.push_back({ folderRow, report.speed, folderEnded });
            lastFolderOfUser.insert(folderRow->parent(), folderRow);
        }
        for (const Parent& parent : parents) {
            if (!parent.folderRow)
                continue;
            ShowParentProgress(kind, parent.folderRow, parent.speed,
                lastFolderOfUser.value(parent.folderRow->parent()) == parent.folderRow);
            // The last figures of a transfer that has ended may leave the
            // parents with nothing running beneath them.
            if (parent.ended) {
                UpdateParentStatus(kind, parent.folderRow);
                UpdateParentStatus(kind, parent.folderRow->parent());
            }
        }
    }
}

void TransfersForm::ShowFileProgress(
    const TreeKind& kind, QTreeWidgetItem* row, const Report& report, bool ended)
{
    QTreeWidgetItem* folderRow = row->parent();
    QTreeWidgetItem* userRow = folderRow->parent();
    // A file of no bytes is done once it is there.
    const double percent = report.size > 0 ? double(report.position) * 100.0 / double(report.size) : 100.0;
    SetProgressBar(kind.tree, row, report.position, percent);
    // Of a transfer that has ended only what it holds: nothing is moving.
    if (ended)
        return;
    SetFigure(row, 5, TimeLeftText(report.size - report.position, report.speed));
    QTreeWidgetItem* speedRow = !userRow->isExpanded() ? userRow : (!folderRow->isExpanded() ? folderRow : row);
    SetFigure(speedRow, 6, SpeedText(report.speed));
}

void TransfersForm::ShowParentProgress(
    const TreeKind& kind, QTreeWidgetItem* folderRow, qint64 speed, bool withUser)
{
    QTreeWidgetItem* userRow = folderRow->parent();
    const RowFigures& userSums = FiguresOf(userRow);
    const RowFigures& folderSums = FiguresOf(folderRow);
    const bool updateUser = withUser && (!userRow->isExpanded() || userRow->childCount() > 1);
    if (updateUser) {
        if (userSums.total == 0)
            return;
        SetFigure(userRow, 5, TimeLeftText(userSums.remaining, speed));
        SetProgressBar(kind.tree, userRow, userSums.done, double(userSums.done * 100) / double(userSums.total));
    }
    if (folderSums.total == 0)
        return;
    SetFigure(folderRow, 5, TimeLeftText(folderSums.remaining, speed));
    SetProgressBar(
        kind.tree, folderRow, folderSums.done, double(folderSums.done * 100) / double(folderSums.total));
}

void TransfersForm::OnDownloadProgress(ItemPtr entry)
{
    const auto* speed = entry["bytes_per_second"].AsPointer<int>();
    QueueProgress(0, entry, DownloadPosition(entry, entry["write_position"].AsPointer<qint64>()),
        entry["file_size"].AsInt64(), speed ? *speed : 0);
}

void TransfersForm::OnUploadProgress(ItemPtr entry)
{
    const auto* speed = entry["bytes_per_second"].AsPointer<int>();
    QueueProgress(1, entry, Position(entry, "read_position"), entry["shared_file"]["shared_file_size"].AsInt64(),
        speed ? *speed : 0);
}

QBrush TransfersForm::StatusBrush(const QString& status)
{
    const char* key = "color_transfer_other";
    if (status == QLatin1String("complete"))
        key = "color_transfer_complete";
    else if (status == QLatin1String("downloading") || status == QLatin1String("uploading")
        || status == QLatin1String("connecting"))
        key = "color_transfer_in_progress";
    else if (status == QLatin1String("queued"))
        key = "color_transfer_queued";
    else if (IsFailedStatus(status))
        key = "color_transfer_failed";
    return QBrush(QColor::fromString(settings.Get(key)));
}

bool TransfersForm::IsFailedStatus(const QString& word)
{
    return word == QLatin1String("denied") || word == QLatin1String("aborted")
        || word == QLatin1String("local error");
}

void TransfersForm::SetItemColorByStatus(QTreeWidgetItem* row, const QString& status)
{
    PaintRow(row, StatusBrush(status));
}

void TransfersForm::PaintRow(QTreeWidgetItem* row, const QBrush& brush)
{
    if (auto* transferRow = dynamic_cast<TransferRow*>(row)) {
        transferRow->SetRowForeground(brush);
        return;
    }
    for (int column = 0; column < row->columnCount(); ++column)
        row->setForeground(column, brush);
}

void TransfersForm::ColorRow(QTreeWidgetItem* row, const QString& status)
{
    if (!m_bulkBuild) {
        SetItemColorByStatus(row, status);
        return;
    }
    // One reading of the colour settings for the whole build.
    auto found = m_bulkBrushes.find(status);
    if (found == m_bulkBrushes.end())
        found = m_bulkBrushes.insert(status, StatusBrush(status));
    PaintRow(row, *found);
}

void TransfersForm::RecolorEntries()
{
    for (const TreeKind& kind : m_kinds) {
        for (ItemPtr node : kind.fileNode->GetItems()) {
            if (auto* row = node.AsPointer<QTreeWidgetItem>())
                SetItemColorByStatus(row, node[kind.entryType][kind.statusType].AsString());
        }
    }
    for (const TreeKind& kind : m_kinds) {
        for (Type* type : { kind.folderNode, kind.userNode }) {
            for (ItemPtr node : type->GetItems()) {
                if (auto* row = node.AsPointer<QTreeWidgetItem>())
                    UpdateParentStatus(kind, row);
            }
        }
    }
}

void TransfersForm::EveryHalfMinute()
{
    if (settings.IsYes("clear_complete_aborted_uploads") && transferQueueManager)
        m_staleUploads->Start();
}

void TransfersForm::OnClearDownloadsCheckStateChanged(int state)
{
    if (state != Qt::PartiallyChecked)
        settings.SetYes("clear_complete_downloads", state == Qt::Checked);
}

void TransfersForm::OnClearUploadsCheckStateChanged(int state)
{
    if (state != Qt::PartiallyChecked)
        settings.SetYes("clear_complete_aborted_uploads", state == Qt::Checked);
}
