#pragma once
// A user's statistics as the server reports them: average upload speed,
// number of uploads, shared files and shared folders.
#include "store/Persistent.h"
#include <QMetaType>
#include <QtGlobal>

class UserStats : public Persistent {
public:
    quint32 averageSpeed = 0; // bytes per second
    quint64 uploadCount = 0;
    quint32 fileCount = 0;
    quint32 folderCount = 0;

    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;
};

Q_DECLARE_METATYPE(UserStats)
