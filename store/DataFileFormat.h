#pragma once
// The data file's format constants, shared by the loading and saving halves
// of DataSaver (see DataSaver.h).
#include <QFile>

namespace DataFileFormat {
inline const char kMagic[8] = { 'M', 'R', 'W', 'B', 'D', 'A', 'T', 'A' };
inline const quint32 kVersion = 1;
inline const quint8 kEnd = 0, kItems = 1, kConnections = 2;
inline const quint8 kGlobalNullFlag = 1;
// The value follows the flags in pieces (see DataSaver.h).
inline const quint8 kLongValueFlag = 2;
inline const char* const kArea = "Configuration Data";
inline const QFile::Permissions kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;
} // namespace DataFileFormat
