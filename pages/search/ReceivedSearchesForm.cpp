#include "ReceivedSearchesForm.h"
#include "SearchResultListItem.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include <QBrush>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTreeWidget>

ReceivedSearchesForm* receivedSearchesForm = nullptr;

namespace {

const QString kSet = QStringLiteral("received_searches");
const QString kPauseKey = QStringLiteral("pause_unpause");

} // namespace

ReceivedSearchesForm::ReceivedSearchesForm(QWidget* parent)
    : QWidget(parent)
{
    receivedSearchesForm = this;
    setObjectName(QStringLiteral("ReceivedSearchesForm"));
    auto* layout = new QHBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("searchList"));
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({ tr("Search"), tr("Match") });
    m_list->setRootIsDecorated(false);
    m_list->setColumnWidth(0, 320);
    m_list->setColumnWidth(1, 50);
    layout->addWidget(m_list);
}

ReceivedSearchesForm::~ReceivedSearchesForm()
{
    if (receivedSearchesForm == this)
        receivedSearchesForm = nullptr;
}

void ReceivedSearchesForm::Init()
{
    if (sharedFoldersManager)
        connect(sharedFoldersManager, &SharedFoldersManager::SearchProcessed, this,
            &ReceivedSearchesForm::OnSearchProcessed);
    actionBar->AddSetAction(kSet, kPauseKey, tr("Pause"), QStringLiteral(":/icons/pause_icon"), false);
    actionBar->RegisterWidget(this, kSet);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ReceivedSearchesForm::OnActionTriggered);
}

void ReceivedSearchesForm::OnSearchProcessed(QString text, bool match)
{
    if (m_paused)
        return;
    m_list->setCurrentItem(nullptr);
    auto* row = new QTreeWidgetItem;
    row->setText(0, SearchResultListItem::Shown(text));
    if (match) {
        row->setText(1, tr("Match"));
        row->setForeground(1, QBrush(QColor(0, 85, 0)));
    }
    m_list->insertTopLevelItem(0, row);
    while (m_list->topLevelItemCount() > kMaxRows)
        delete m_list->takeTopLevelItem(kMaxRows);
}

void ReceivedSearchesForm::OnActionTriggered(QWidget* widget, QString key)
{
    if (widget != this || key != kPauseKey)
        return;
    m_paused = !m_paused;
    actionBar->SetWidgetActionText(this, kPauseKey, m_paused ? tr("Resume") : tr("Pause"));
}
