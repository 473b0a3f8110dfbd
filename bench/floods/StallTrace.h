#pragma once
// Where a stall comes from: with STALL_TRACE=<ms> set, the floods benchmark's
// application keeps a beat of its own every millisecond and, for each gap
// between two beats of at least that many milliseconds, prints to stderr the
// events delivered in the gap that took 0.5 ms or more (nested ones indented,
// with their receiver, its name (for a timer without one, its interval) and
// the receiver's parent), and the start and end of every row. Without the
// variable it adds nothing.
#include <QApplication>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

class TracingApplication : public QApplication {
public:
    TracingApplication(int& argc, char** argv)
        : QApplication(argc, argv)
        , m_threshold(qEnvironmentVariableIntValue("STALL_TRACE"))
    {
        if (m_threshold <= 0)
            return;
        m_beat = new QTimer(this);
        m_last = Now();
        m_beat->start(1);
    }

    // Marks a row's start or end in the trace.
    static void Mark(const QString& row, const char* what)
    {
        auto* app = static_cast<TracingApplication*>(QCoreApplication::instance());
        if (app && app->m_beat)
            std::fprintf(stderr, "ROW %s %s %.6f\n", qPrintable(row), what, Now());
    }

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!m_beat || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        if (receiver == m_beat && event->type() == QEvent::Timer && !m_depth) {
            const double now = Now();
            if ((now - m_last) * 1e3 >= m_threshold) {
                std::fprintf(stderr, "GAP %.1f ms from %.6f\n", (now - m_last) * 1e3, m_last);
                for (const std::string& line : m_lines)
                    std::fprintf(stderr, "  %s\n", line.c_str());
            }
            m_lines.clear();
            m_last = now;
            return QApplication::notify(receiver, event);
        }
        const double start = Now();
        const size_t mark = m_lines.size();
        const QByteArray name = Name(receiver);
        const QByteArray parent = receiver->parent() ? receiver->parent()->metaObject()->className() : "";
        const QByteArray kind = receiver->metaObject()->className();
        const int type = event->type();
        ++m_depth;
        const bool handled = QApplication::notify(receiver, event);
        --m_depth;
        const double ms = (Now() - start) * 1e3;
        if (ms >= 0.5) {
            char line[512];
            std::snprintf(line, sizeof line, "%*s%.1f ms event %d to %s '%s' (in %s) +%.1f", m_depth * 2, "",
                ms, type, kind.constData(), name.constData(), parent.constData(), (start - m_last) * 1e3);
            m_lines.insert(m_lines.begin() + long(mark), line);
        } else {
            m_lines.resize(mark);
        }
        return handled;
    }

private:
    // The receiver's object name or, for a timer that has none, its interval.
    static QByteArray Name(QObject* receiver)
    {
        const QString name = receiver->objectName();
        const auto* timer = qobject_cast<QTimer*>(receiver);
        if (!name.isEmpty() || !timer)
            return name.left(40).toUtf8();
        return (timer->isSingleShot() ? "once, " : "every ") + QByteArray::number(timer->interval()) + " ms";
    }

    static double Now()
    {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
    }

    int m_threshold;
    QTimer* m_beat = nullptr;
    double m_last = 0;
    int m_depth = 0;
    std::vector<std::string> m_lines;
};

} // namespace
