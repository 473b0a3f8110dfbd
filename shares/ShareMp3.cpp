// MP3 attributes found by the scanner thread, stored on the shared file, and
// their one-line display text.
#include "SharedFoldersManager.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"

void SharedFoldersManager::OnMP3Scanned(
    QString path, int mpegVersion, QString channelMode, int frequencyIndex, bool vbr, int bitrate)
{
    Log(QStringLiteral("MP3 Scanning"), 1, QStringLiteral("Scanned %1").arg(path));
    ItemPtr file = GetSharedFileItem(path);
    if (!file)
        return;
    file += d.GetType("mpeg_version")->GetItem(Value(mpegVersion));
    file += d.GetType("channel_mode")->GetItem(Value(channelMode));
    file += d.GetType("audio_frequency")->GetItem(Value(frequencyIndex));
    file += d.GetType("bitrate_mode")->GetItem(Value(vbr ? "vbr" : "cbr"));
    file += d.GetType("bitrate")->GetItem(Value(bitrate));
    file += m_scannedType->GetGlobalNullItem();
    InvalidateShareLists(false);
}

QString SharedFoldersManager::GetFileItemDisplayString(ItemPtr item)
{
    QString text;
    if (ItemPtr bitrate = item["bitrate"])
        text += QString::number(bitrate.AsInt());
    const std::string mode = item["bitrate_mode"].Text();
    if (mode == "vbr")
        text += QStringLiteral(" VBR");
    else if (mode == "cbr")
        text += QStringLiteral(" CBR");
    if (ItemPtr length = item["length_seconds"])
        text += QStringLiteral(", ") + FormatSeconds(long(length.AsInt64()));
    return text;
}
