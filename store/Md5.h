#pragma once
// The MD5 digest as 32 lower-case hex digits (the login sends the digest of the
// user name followed by the password).
#include <QByteArray>
#include <QString>

QString Md5Hex(const QByteArray& bytes);
