#include "DiagnosticsForm.h"
#include "ItemLogDialog.h"
#include "Kit.h"
#include "LogSink.h"
#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

DiagnosticsForm* diagnosticsForm = nullptr;

namespace {

// The areas that the program logs in; others join the list when they first log.
const char* const kKnownAreas[] = {
    "Peer Messenger",
    "Distributed Network",
    "Transfer Queue",
    "Port Forwarding",
    "Search",
    "Wish List",
    "Configuration Data",
    "Shared",
    "MP3 Scanning",
    "Profiling",
    "Server",
};

} // namespace

DiagnosticsForm::DiagnosticsForm(QWidget* parent)
    : QWidget(parent)
    , m_areaBox(new QComboBox(this))
    , m_view(new QPlainTextEdit(this))
    , m_users(new QListWidget(this))
    , m_userLogAction(new QAction(tr("See User Log"), this))
{
    diagnosticsForm = this;
    LogSink& sink = LogSink::Instance();
    sink.DeclareTypes();

    for (const char* area : kKnownAreas)
        AddArea(QString::fromLatin1(area));
    for (const QString& area : sink.Areas())
        AddArea(area);

    m_view->setReadOnly(true);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setMaximumBlockCount(sink.AreaCap());
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_users->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_users->addAction(m_userLogAction);
    m_users->hide();

    auto* areaRow = new QHBoxLayout;
    areaRow->addWidget(new QLabel(tr("Area:"), this));
    areaRow->addWidget(m_areaBox, 1);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_view);
    splitter->addWidget(m_users);
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(areaRow);
    layout->addWidget(splitter, 1);

    connect(m_areaBox, &QComboBox::currentIndexChanged, this, &DiagnosticsForm::OnAreaChanged);
    connect(&sink, &LogSink::LineAdded, this, &DiagnosticsForm::OnLineAdded);
    connect(m_userLogAction, &QAction::triggered, this, &DiagnosticsForm::OnUserLog);
    connect(m_users, &QListWidget::itemActivated, this, &DiagnosticsForm::OnUserLog);
}

DiagnosticsForm::~DiagnosticsForm()
{
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;
}

void DiagnosticsForm::Init()
{
    m_userType = d.HasType("user");
    m_trackedType = d.HasType("is_tracked");
    m_users->show();
    if (!m_userType || !m_trackedType || !m_userType->GetRelation(m_trackedType))
        return;
    Subscribe(m_trackedType->connected, &DiagnosticsForm::OnTrackedConnected);
    Subscribe(m_trackedType->disconnected, &DiagnosticsForm::OnTrackedDisconnected);
    Subscribe(m_userType->itemRemoved, &DiagnosticsForm::OnUserRemoved);
    for (ItemPtr flag : m_trackedType->GetItems()) {
        for (ItemPtr user : flag.GetItems(m_userType))
            AddTrackedUser(user);
    }
}

void DiagnosticsForm::RegisterLoggableItemType(std::string type)
{
    LogSink::Instance().RegisterLoggableType(type);
}

QString DiagnosticsForm::CurrentArea() const
{
    return m_areaBox->currentText();
}

void DiagnosticsForm::ShowArea(const QString& area)
{
    AddArea(area);
    m_areaBox->setCurrentIndex(m_areaBox->findText(area));
}

void DiagnosticsForm::AddArea(const QString& area)
{
    if (m_areaBox->findText(area) < 0)
        m_areaBox->addItem(area);
}

void DiagnosticsForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_stale)
        Reload();
}

void DiagnosticsForm::OnLineAdded(const QString& area, const LogLine& line, quint64)
{
    if (m_areaBox->findText(area) < 0)
        AddArea(area);
    if (area != m_areaBox->currentText() || m_stale)
        return;
    if (!isVisible()) {
        m_stale = true;
        m_pending.clear();
        return;
    }
    m_pending.append(ShownLogLine(line));
    if (m_pending.size() > LogSink::Instance().AreaCap())
        m_pending.removeFirst();
    if (!m_flushQueued) {
        m_flushQueued = true;
        QTimer::singleShot(0, this, &DiagnosticsForm::FlushPending);
    }
}

void DiagnosticsForm::FlushPending()
{
    m_flushQueued = false;
    if (m_pending.isEmpty())
        return;
    m_view->appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
}

void DiagnosticsForm::OnAreaChanged()
{
    m_pending.clear();
    m_stale = true;
    if (isVisible())
        Reload();
}

void DiagnosticsForm::Reload()
{
    m_pending.clear();
    QStringList text;
    for (const LogLine& line : LogSink::Instance().AreaLines(m_areaBox->currentText()))
        text.append(ShownLogLine(line));
    m_view->setPlainText(text.join(QLatin1Char('\n')));
    m_view->moveCursor(QTextCursor::End);
    m_stale = false;
}

void DiagnosticsForm::OnUserLog()
{
    QListWidgetItem* row = m_users->currentItem();
    if (!row)
        return;
    auto it = m_rows.find(row->data(Qt::UserRole).toULongLong());
    if (it == m_rows.end())
        return;
    auto* dialog = new ItemLogDialog(it->second.user, nullptr);
    dialog->show();
}

void DiagnosticsForm::OnTrackedConnected(ConnectionInfo& info)
{
    if (info.second.GetType() == m_userType)
        AddTrackedUser(info.second);
}

void DiagnosticsForm::OnTrackedDisconnected(ConnectionInfo& info)
{
    if (info.second.GetType() == m_userType && !info.second.IsConnected(m_trackedType))
        RemoveTrackedUser(info.second);
}

void DiagnosticsForm::OnUserRemoved(ItemPtr user)
{
    RemoveTrackedUser(user);
}

void DiagnosticsForm::AddTrackedUser(ItemPtr user)
{
    const quint64 serial = user.Serial();
    if (m_rows.count(serial))
        return;
    auto* row = new QListWidgetItem(RowName(user.AsString()));
    row->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(serial));
    m_users->addItem(row);
    m_rows.emplace(serial, TrackedRow { user, row });
}

void DiagnosticsForm::RemoveTrackedUser(ItemPtr user)
{
    auto it = m_rows.find(user.Serial());
    if (it == m_rows.end())
        return;
    delete it->second.row;
    m_rows.erase(it);
}
