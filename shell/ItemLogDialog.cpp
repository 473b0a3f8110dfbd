#include "ItemLogDialog.h"
#include "Kit.h"
#include "LogSink.h"
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

QString ShownLogLine(const LogLine& line)
{
    // A line may carry a peer's text of any length (a denial reason, say):
    // each of its lines is shown cut, the log keeps it whole.
    constexpr int kMaxShown = 2000;
    LogLine shown = line;
    QStringList parts = line.text.split(QLatin1Char('\n'));
    for (QString& part : parts)
        part = RowName(part, kMaxShown);
    shown.text = parts.join(QLatin1Char('\n'));
    return LogSink::Format(shown);
}

ItemLogDialog::ItemLogDialog(ItemPtr item, QWidget* parent)
    : QDialog(parent)
    , m_serial(item ? item.Serial() : 0)
    , m_view(new QPlainTextEdit(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("%1 Log").arg(ElidedLabel(IsolatedText(item.AsString()), fontMetrics())));
    resize(640, 400);

    m_view->setReadOnly(true);
    m_view->setMaximumBlockCount(LogSink::Instance().ItemCap());
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view);

    QStringList text;
    for (const LogLine& line : LogSink::Instance().ItemLines(item))
        text.append(ShownLogLine(line));
    m_view->setPlainText(text.join(QLatin1Char('\n')));

    if (m_serial)
        connect(&LogSink::Instance(), &LogSink::LineAdded, this, &ItemLogDialog::OnLineAdded);
}

void ItemLogDialog::OnLineAdded(const QString&, const LogLine& line, quint64 itemSerial)
{
    if (itemSerial == m_serial)
        m_view->appendPlainText(ShownLogLine(line));
}
