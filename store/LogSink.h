#pragma once
// The sink behind Log(): the recent lines of every area and of single items,
// kept in memory under fixed caps so that logging costs little when nobody
// looks and a flood of lines never grows memory without bound.
//
// Caps. Each area keeps its newest AreaCap lines. Each item keeps its newest
// ItemCap lines, and all items together at most TotalItemCap lines; past that
// the oldest line of all goes first (a time-ordered queue of (item, line
// number) pairs finds it; pairs of lines already dropped are skipped and swept
// out now and then). An item's lines sit in a record keyed by the item's
// creation number, which is never reused; the record goes when the item is
// removed from the store, and when its last line has been dropped.
//
// Store mirror. For item types made loggable (RegisterLoggableType) every kept
// line is also an `item_log` item, owned by and connected to its item, whose
// value is the line's number and display text (MirrorText); the mirror is
// trimmed with the record, so the store holds the same capped log. The sink
// stays the readers' source: views read lines from here and follow LineAdded.
//
// Threads. Log belongs to the GUI thread. A line logged on another thread is
// handed to the GUI thread by a queued call, without its item (worker threads
// never touch the store).
#include "Event.h"
#include "ItemPtr.h"
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class Type;

struct LogLine {
    qint64 time = 0; // ms since the epoch
    quint64 number = 0; // running line number of the process
    int level = 1; // 1 starts an entry; 2 and above are its details
    QString text;
};
Q_DECLARE_METATYPE(LogLine)

class LogSink : public QObject, public DataHandler {
    Q_OBJECT
public:
    static constexpr int kAreaCap = 2000;
    static constexpr int kItemCap = 100;
    static constexpr int kTotalItemCap = 50000;

    static LogSink& Instance();

    void Append(const QString& area, int level, const QString& text, ItemPtr item);

    // Areas in the order of their first line.
    QStringList Areas() const { return m_areaOrder; }
    std::vector<LogLine> AreaLines(const QString& area) const;
    size_t AreaLineCount(const QString& area) const;
    // The lines kept for an item, oldest first.
    std::vector<LogLine> ItemLines(ItemPtr item) const;
    size_t ItemLineCount(ItemPtr item) const;
    size_t TotalItemLines() const { return m_totalItemLines; }
    size_t ItemsWithLog() const { return m_items.size(); }

    // Declares the `item_log` type in the store when it is missing.
    Type* DeclareTypes();
    // Relates `item_log` to the named type, so that items of it get their log
    // lines as `item_log` items too. Throws TypeNotFoundException for an
    // unknown type; a second call for the same type does nothing.
    void RegisterLoggableType(const std::string& type);

    // Display text of a line: an entry line starts with its time; detail lines
    // are indented beneath it.
    static QString Format(const LogLine& line);
    // The value of a line's `item_log` item: its line number, a blank, then
    // its display text. The number keeps the values distinct, which keeps the
    // store's value index cheap to maintain as the oldest log items go.
    static QString MirrorText(const LogLine& line);

    int AreaCap() const { return m_areaCap; }
    int ItemCap() const { return m_itemCap; }

    // For tests: other caps, and forgetting every line.
    void SetLimits(int areaCap, int itemCap, int totalItemCap);
    void Reset();
    size_t QueueLength() const { return m_queue.size(); }

signals:
    // Every line as it is logged; itemSerial is the item's creation number, or
    // 0 for a line without an item.
    void LineAdded(const QString& area, const LogLine& line, quint64 itemSerial);

private:
    struct ItemLog {
        ItemPtr owner; // valid while the record exists
        std::vector<LogLine> lines;
    };

    LogSink();
    void AppendLine(const QString& area, LogLine line, ItemPtr item);
    void AppendToItem(ItemPtr item, const LogLine& line);
    void EvictOverTotal(std::vector<quint64>& touched);
    void CompactQueue();
    // Brings the owner's `item_log` items down to its kept lines and drops an
    // emptied record.
    void Settle(quint64 serial);
    bool IsLoggable(const Type* type) const { return m_loggable.count(type) != 0; }
    void OnItemRemoved(ItemPtr item);

    int m_areaCap = kAreaCap;
    int m_itemCap = kItemCap;
    int m_totalItemCap = kTotalItemCap;
    quint64 m_nextNumber = 1;

    QHash<QString, std::deque<LogLine>> m_areas;
    QStringList m_areaOrder;

    std::unordered_map<quint64, ItemLog> m_items;
    std::deque<std::pair<quint64, quint64>> m_queue; // (item serial, line number), oldest first
    size_t m_totalItemLines = 0;
    bool m_watchingRemovals = false;

    Type* m_logType = nullptr;
    std::unordered_set<const Type*> m_loggable;
};
