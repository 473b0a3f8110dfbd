#include "CompleteDownloadsForm.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "transfers/TransferQueueManager.h"
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTreeWidget>

CompleteDownloadsForm* completeDownloadsForm = nullptr;

namespace {

ItemPtr RecordOf(const QTreeWidgetItem* row)
{
    Type* nodes = d.HasType("complete_download_node");
    return nodes ? nodes->HasItem(Value(row))["complete_download"] : ItemPtr();
}

QDateTime CompletionTime(ItemPtr record)
{
    return QDateTime::fromString(record["complete_download_completion_time"].AsString(), Qt::TextDate);
}

} // namespace

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& other) const
{
    ItemPtr mine = RecordOf(this);
    ItemPtr theirs = RecordOf(&other);
    const QDateTime a = CompletionTime(mine);
    const QDateTime b = CompletionTime(theirs);
    // Times have whole seconds: within one second the later record is newer.
    if (a == b)
        return mine && theirs && mine.Serial() < theirs.Serial();
    return a < b;
}

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* parent)
    : QWidget(parent)
{
    completeDownloadsForm = this;
    setObjectName(QStringLiteral("CompleteDownloadsForm"));
    setWindowTitle(QStringLiteral("Form"));
    resize(400, 300);
    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    m_downloadList = new QTreeWidget(this);
    m_downloadList->setObjectName(QStringLiteral("downloadList"));
    layout->addWidget(m_downloadList);
    m_downloadList->setColumnCount(5);
    m_downloadList->header()->setStretchLastSection(false);
    const int widths[] = { 250, 250, 100, 100, 150 };
    for (int k = 0; k < 5; ++k)
        m_downloadList->setColumnWidth(k, widths[k]);
    m_downloadList->header()->setSectionsMovable(false);
    m_downloadList->setHeaderLabels({ QStringLiteral("File"), QStringLiteral("Folder"), QStringLiteral("User"),
        QStringLiteral("Size"), QStringLiteral("Completion time") });
}

CompleteDownloadsForm::~CompleteDownloadsForm()
{
    if (Type* nodes = d.HasType("complete_download_node"))
        nodes->GetItems().Remove();
    if (completeDownloadsForm == this)
        completeDownloadsForm = nullptr;
}

void CompleteDownloadsForm::Init()
{
    Type* nodes = d.DeclareType("complete_download_node", kEntity, false, true);
    d.RelateTypes(nodes, d.GetType("complete_download"), One, One);
    if (transferQueueManager)
        connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
            &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
}

void CompleteDownloadsForm::DataLoaded()
{
    for (ItemPtr record : d.GetType("complete_download")->GetItems())
        OnCompleteDownloadAdded(record);
}

void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr record)
{
    if (record.IsConnected("complete_download_node"))
        return;
    auto* row = new CompleteDownloadItem(m_downloadList);
    row->setText(0, RowName(record["complete_download_filename"].AsString()));
    row->setText(1, RowName(record["complete_download_relative_folder"].AsString()));
    row->setText(2, RowName(record["user"].AsString()));
    row->setText(3, record["complete_download_file_size"].AsString());
    row->setText(4, record["complete_download_completion_time"].AsString());
    d.GetType("complete_download_node")->GetItem(Value(static_cast<QTreeWidgetItem*>(row))) += record;
    m_downloadList->sortItems(0, Qt::DescendingOrder);
}
