#pragma once
// The logging entry point: one line to an area's log and, when an item is
// given, to that item's own log. Level 1 starts an entry; level 2 lines are
// details shown beneath it. Never fails. Meant for the GUI thread; a line
// logged on another thread reaches its area's log without the item.
#include "ItemPtr.h"
#include <QString>

void Log(const QString& area, int level, const QString& text, ItemPtr item = ItemPtr());
