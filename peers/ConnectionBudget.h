#pragma once
// How many peer sockets the client keeps open at once, and a log that says
// the first few of a repeated event and then only how many more there were.
//
// Every socket is a file descriptor. Past the process's limit on open files
// nothing can be opened any more: not a peer's socket, not the event loop's
// own pipes, not a file to download into. And a library that waits with
// select() (the UPnP client does) can't use a descriptor numbered
// FD_SETSIZE or above, so whatever the limit the client keeps its
// descriptors under that number. Of those, 256 (half, under a limit of
// 512) and half of the rest are kept for the rest of the program (the
// window, the files and sockets of running transfers, the data file); the
// peer connections that the messenger holds share the other half (384 of
// 1,024), and those accepted from one address a quarter of that. The
// listeners hold an eighth of it at most before the messenger takes them.
#include <QString>

struct ConnectionBudget {
    qint64 files = 0; // the soft limit on open files
    int total = 0; // connections in the messenger's table
    int perAddress = 0; // of those, accepted from one address

    static ConnectionBudget ForFiles(qint64 files);
    // Raises this process's soft limit on open files to its hard limit and
    // budgets from the result.
    static ConnectionBudget ForThisProcess();
};

// Says the first few events of a kind in each period, then, when the period
// ends, how many more there were: a flood of refusals makes a few lines.
class QuietLog {
public:
    QuietLog(QString area, int perPeriod = 3)
        : m_area(std::move(area))
        , m_perPeriod(perPeriod)
    {
    }
    void Line(const QString& text);
    // "<count> more: <what>" when lines were left out since the last call.
    void EndPeriod(const QString& what);

private:
    QString m_area;
    int m_perPeriod;
    int m_count = 0;
};
