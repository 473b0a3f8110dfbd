#include "ConnectionBudget.h"
#include "store/Log.h"
#include <algorithm>
#include <sys/resource.h>
#include <sys/select.h>

ConnectionBudget ConnectionBudget::ForFiles(qint64 files)
{
    const qint64 usable = std::min<qint64>(files, FD_SETSIZE);
    const qint64 kept = std::min<qint64>(256, usable / 2);
    ConnectionBudget budget;
    budget.files = files;
    budget.total = int(std::max<qint64>(8, (usable - kept) / 2));
    budget.perAddress = std::max(4, budget.total / 4);
    return budget;
}

ConnectionBudget ConnectionBudget::ForThisProcess()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return ForFiles(FD_SETSIZE);
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return ForFiles(limit.rlim_cur == RLIM_INFINITY ? FD_SETSIZE : qint64(limit.rlim_cur));
}

void QuietLog::Line(const QString& text)
{
    if (++m_count <= m_perPeriod)
        Log(m_area, 2, text);
}

void QuietLog::EndPeriod(const QString& what)
{
    if (m_count > m_perPeriod)
        Log(m_area, 2, QStringLiteral("%1 more: %2").arg(m_count - m_perPeriod).arg(what));
    m_count = 0;
}
