#include "helper_shares.h"
#include "peers/Inflate.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <cmath>

SharedFoldersManager* MakeShareManager()
{
    Settings::CreateTypes();
    if (!dataSaver) {
        new DataSaver(&d);
        // The main window saves the settings.
        dataSaver->AddSavedType("global");
        dataSaver->AddSavedByConnectionType("global_value", "global");
    }
    if (!gp_server)
        gp_server = new Server;
    gp_server->CreateData();
    // The peer network declares these; a test without it declares them here.
    for (const char* type : { "file_size", "mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode",
             "bitrate", "length_seconds" }) {
        if (!d.HasType(type))
            d.NewType(type, kAttribute, false, true);
    }
    return new SharedFoldersManager;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void WriteSineWav(const QString& path, int rate, int channels, double seconds, bool secondTone)
{
    const int frames = int(rate * seconds);
    QByteArray data;
    data.reserve(frames * channels * 2);
    for (int k = 0; k < frames; ++k) {
        const qint16 sample = qint16(
            12000 * std::sin(2 * M_PI * 440.0 * k / rate) + (secondTone ? 3000 * std::sin(k * 0.37) : 0.0));
        for (int c = 0; c < channels; ++c) {
            data.append(char(sample & 0xFF));
            data.append(char((sample >> 8) & 0xFF));
        }
    }
    auto u32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    QByteArray wav = "RIFF" + u32(36 + data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(quint16(channels))
        + u32(quint32(rate)) + u32(quint32(rate * channels * 2)) + u16(quint16(channels * 2)) + u16(16)
        + "data" + u32(quint32(data.size())) + data;
    WriteFile(path, wav);
}

bool RunLame(const QStringList& arguments)
{
    QProcess lame;
    lame.start(QStringLiteral("lame"), QStringList { QStringLiteral("--quiet") } + arguments);
    return lame.waitForFinished(60000) && lame.exitStatus() == QProcess::NormalExit && lame.exitCode() == 0;
}

bool WaitForScans(SharedFoldersManager* manager, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (manager->IsScanning()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

QByteArray InflateMessage(const MemStream& message, quint32 expectedCode)
{
    const QByteArray bytes = message.GetBuffer();
    if (bytes.size() < 4)
        return QByteArray();
    MemStream head(bytes.left(4));
    quint32 code = 0;
    head.ReadUInt32(code);
    if (code != expectedCode)
        return QByteArray();
    QByteArray body;
    if (InflateCapped(bytes.constData() + 4, bytes.size() - 4, 64 << 20, body) != InflateResult::Ok)
        return QByteArray();
    return body;
}

bool ReadWireFile(MemStream& in, WireFile& file)
{
    quint8 lead;
    quint32 count;
    if (!in.ReadUInt8(lead) || lead != 1 || !in.ReadString(file.name) || !in.ReadInt64(file.size)
        || !in.ReadString(file.extension) || !in.ReadUInt32(count))
        return false;
    file.attributes.clear();
    for (quint32 k = 0; k < count; ++k) {
        quint32 code, value;
        if (!in.ReadUInt32(code) || !in.ReadUInt32(value))
            return false;
        file.attributes.emplace_back(code, value);
    }
    return true;
}
