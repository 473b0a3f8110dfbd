#include "Log.h"
#include "LogSink.h"

void Log(const QString& area, int level, const QString& text, ItemPtr item)
{
    LogSink::Instance().Append(area, level, text, item);
}
