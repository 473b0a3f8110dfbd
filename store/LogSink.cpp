#include "LogSink.h"
#include "Data.h"
#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <algorithm>

namespace {

const char* const kItemLogType = "item_log";

bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

} // namespace

LogSink::LogSink()
{
    qRegisterMetaType<LogLine>("LogLine");
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

LogSink& LogSink::Instance()
{
    // Never destroyed: logging stays possible until the process ends.
    static LogSink* sink = new LogSink;
    return *sink;
}

void LogSink::Append(const QString& area, int level, const QString& text, ItemPtr item)
{
    LogLine line { QDateTime::currentMSecsSinceEpoch(), 0, level, text };
    if (!OnGuiThread()) {
        QMetaObject::invokeMethod(
            this, [this, area, line] { AppendLine(area, line, ItemPtr()); }, Qt::QueuedConnection);
        return;
    }
    AppendLine(area, std::move(line), item);
}

void LogSink::AppendLine(const QString& area, LogLine line, ItemPtr item)
{
    line.number = m_nextNumber++;

    auto areaIt = m_areas.find(area);
    if (areaIt == m_areas.end()) {
        areaIt = m_areas.insert(area, {});
        m_areaOrder.append(area);
    }
    std::deque<LogLine>& lines = *areaIt;
    lines.push_back(line);
    while (lines.size() > size_t(m_areaCap))
        lines.pop_front();

    quint64 serial = 0;
    if (item) {
        serial = item.Serial();
        AppendToItem(item, line);
    }
    emit LineAdded(area, line, serial);
}

void LogSink::AppendToItem(ItemPtr item, const LogLine& line)
{
    if (!m_watchingRemovals) {
        Subscribe(d.itemRemoved, &LogSink::OnItemRemoved);
        m_watchingRemovals = true;
    }
    const quint64 serial = item.Serial();
    ItemLog& record = m_items[serial];
    record.owner = item;
    record.lines.push_back(line);
    ++m_totalItemLines;
    m_queue.emplace_back(serial, line.number);
    if (record.lines.size() > size_t(m_itemCap)) {
        record.lines.erase(record.lines.begin());
        --m_totalItemLines;
    }

    std::vector<quint64> touched;
    EvictOverTotal(touched);
    CompactQueue();

    // Store work last: its events may log again.
    if (m_logType && IsLoggable(item.GetType())) {
        try {
            item.Connect(m_logType->NewItem(Value(MirrorText(line))));
        } catch (...) {
            // Logging never fails; the sink's own lines stay complete.
        }
    }
    Settle(serial);
    for (quint64 other : touched) {
        if (other != serial)
            Settle(other);
    }
}

void LogSink::EvictOverTotal(std::vector<quint64>& touched)
{
    while (m_totalItemLines > size_t(m_totalItemCap) && !m_queue.empty()) {
        auto [serial, number] = m_queue.front();
        m_queue.pop_front();
        auto it = m_items.find(serial);
        if (it == m_items.end())
            continue;
        std::vector<LogLine>& lines = it->second.lines;
        // Lines only ever leave a record from its front, so the front is this
        // line unless the line has gone already.
        if (lines.empty() || lines.front().number != number)
            continue;
        lines.erase(lines.begin());
        --m_totalItemLines;
        touched.push_back(serial);
    }
}

void LogSink::CompactQueue()
{
    if (m_queue.size() <= 2 * m_totalItemLines + 4096)
        return;
    std::erase_if(m_queue, [this](const std::pair<quint64, quint64>& entry) {
        auto it = m_items.find(entry.first);
        return it == m_items.end() || it->second.lines.empty()
            || entry.second < it->second.lines.front().number;
    });
}

void LogSink::Settle(quint64 serial)
{
    for (;;) {
        auto it = m_items.find(serial);
        if (it == m_items.end())
            return; // the owner went meanwhile, and its mirror with it
        ItemPtr owner = it->second.owner;
        const size_t kept = it->second.lines.size();
        if (m_logType && IsLoggable(owner.GetType()) && owner.CountItems(kItemLogType) > kept) {
            // The oldest `item_log` of the owner comes first in creation order.
            owner.GetItem(m_logType).Remove();
            continue;
        }
        if (kept == 0)
            m_items.erase(it);
        return;
    }
}

void LogSink::OnItemRemoved(ItemPtr item)
{
    auto it = m_items.find(item.Serial());
    if (it == m_items.end())
        return;
    m_totalItemLines -= it->second.lines.size();
    m_items.erase(it);
    if (m_logType && IsLoggable(item.GetType()))
        item.GetItems(m_logType).Remove();
}

std::vector<LogLine> LogSink::AreaLines(const QString& area) const
{
    auto it = m_areas.constFind(area);
    if (it == m_areas.constEnd())
        return {};
    return std::vector<LogLine>(it->begin(), it->end());
}

size_t LogSink::AreaLineCount(const QString& area) const
{
    auto it = m_areas.constFind(area);
    return it == m_areas.constEnd() ? 0 : it->size();
}

std::vector<LogLine> LogSink::ItemLines(ItemPtr item) const
{
    if (!item)
        return {};
    auto it = m_items.find(item.Serial());
    return it == m_items.end() ? std::vector<LogLine>() : it->second.lines;
}

size_t LogSink::ItemLineCount(ItemPtr item) const
{
    if (!item)
        return 0;
    auto it = m_items.find(item.Serial());
    return it == m_items.end() ? 0 : it->second.lines.size();
}

Type* LogSink::DeclareTypes()
{
    if (!m_logType)
        m_logType = d.DeclareType(kItemLogType, kAttribute, false, false);
    return m_logType;
}

void LogSink::RegisterLoggableType(const std::string& type)
{
    Type* logType = DeclareTypes();
    Type* owner = d.GetType(type);
    d.RelateTypes(owner, logType, One, Many, true);
    m_loggable.insert(owner);
}

QString LogSink::MirrorText(const LogLine& line)
{
    return QString::number(line.number) + QLatin1Char(' ') + Format(line);
}

QString LogSink::Format(const LogLine& line)
{
    static const QString detailIndent(25, QLatin1Char(' '));
    QString text = line.text;
    if (line.level >= 2) {
        text.replace(QLatin1Char('\n'), QLatin1Char('\n') + detailIndent);
        return detailIndent + text;
    }
    static const QString entryIndent(21, QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char('\n') + entryIndent);
    // Local-time conversion looks at the time-zone files each time; lines come
    // many to a second, so the stamp of the last second is kept.
    thread_local qint64 stampSecond = -1;
    thread_local QString stamp;
    const qint64 second = line.time >= 0 ? line.time / 1000 : (line.time - 999) / 1000;
    if (second != stampSecond) {
        stamp = QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
            + QStringLiteral("  ");
        stampSecond = second;
    }
    return stamp + text;
}

void LogSink::SetLimits(int areaCap, int itemCap, int totalItemCap)
{
    m_areaCap = std::max(1, areaCap);
    m_itemCap = std::max(1, itemCap);
    m_totalItemCap = std::max(1, totalItemCap);
    for (auto& lines : m_areas) {
        while (lines.size() > size_t(m_areaCap))
            lines.pop_front();
    }
    std::vector<quint64> touched;
    for (auto& [serial, record] : m_items) {
        if (record.lines.size() > size_t(m_itemCap)) {
            const size_t drop = record.lines.size() - m_itemCap;
            record.lines.erase(record.lines.begin(), record.lines.begin() + drop);
            m_totalItemLines -= drop;
            touched.push_back(serial);
        }
    }
    EvictOverTotal(touched);
    CompactQueue();
    for (quint64 serial : touched)
        Settle(serial);
}

void LogSink::Reset()
{
    m_areas.clear();
    m_areaOrder.clear();
    std::vector<quint64> serials;
    for (auto& [serial, record] : m_items) {
        m_totalItemLines -= record.lines.size();
        record.lines.clear();
        serials.push_back(serial);
    }
    m_queue.clear();
    for (quint64 serial : serials)
        Settle(serial);
}
