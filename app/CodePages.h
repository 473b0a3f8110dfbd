#pragma once
#include <QStringList>

// The code pages the Options page offers for text that is not UTF-8: a fixed
// list of names, of which those this Qt can decode are returned, in order.
QStringList AvailableCodePages();
