#pragma once
// Our answer to a peer's user-information request: the description (cut at the
// longest text a peer's reader accepts), the picture, the upload slots, the
// queued uploads and whether a slot is free now.
//
// The picture goes out only when the chosen file is a regular file of at most
// kMaxPictureLength bytes that holds an image; it is read once and kept until
// the setting or the file changes. A file that does not qualify sends no
// picture and is logged once. Every reply sends the bytes read then, shared:
// a hundred peers asking at once hold one copy of the picture between them.
#include "store/MemStream.h"
#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QString>

class UserInfoReply {
public:
    // The complete message (code and fields) for the current settings, in
    // pieces (EncodeUserInfoPieces).
    QByteArrayList Build();
    // The picture for the file named by the setting, or nothing.
    bool Picture(QByteArray& bytes);

    // The description as sent: UTF-8, at most this many bytes.
    static QByteArray DescriptionBytes(const QString& description);

private:
    QString m_path;
    qint64 m_size = -1;
    QDateTime m_modified;
    bool m_ok = false;
    QByteArray m_bytes;
};
