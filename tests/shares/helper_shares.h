#pragma once
// Shared set-up of the share tests: the store schema the share manager builds
// on, real folders and MP3 files made on the spot, and readers of the
// compressed messages.
#include "shares/SharedFoldersManager.h"
#include "store/MemStream.h"
#include <QByteArray>
#include <QString>
#include <memory>

// Declares the settings, server and peer item types (once per process) and
// makes the share manager; gp_server exists afterwards.
SharedFoldersManager* MakeShareManager();

// Writes a file of the given bytes, making its folders.
void WriteFile(const QString& path, const QByteArray& bytes = QByteArray("x"));

// A 16-bit PCM WAV of a 440 Hz sine wave, with a second faint tone when asked.
void WriteSineWav(const QString& path, int rate, int channels, double seconds, bool secondTone = true);
// Runs lame with the arguments (input and output last); true on success.
bool RunLame(const QStringList& arguments);

// Waits until every walk and merge is done.
bool WaitForScans(SharedFoldersManager* manager, int timeoutMs = 60000);

// The body of a compressed peer message after its 32-bit code; checks the code.
QByteArray InflateMessage(const MemStream& message, quint32 expectedCode);

// One FileInfo record read field by field as laid out on the wire.
struct WireFile {
    std::string name;
    qint64 size = 0;
    std::string extension;
    std::vector<std::pair<quint32, quint32>> attributes;
};
bool ReadWireFile(MemStream& in, WireFile& file);
