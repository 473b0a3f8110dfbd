#pragma once
// The update check: fetches "/qtversion.txt" from the maker's web host and
// announces a newer build.
//
// The version file is plain text, one item per line ("\n" or "\r\n"):
//   line 1    the newest build number, written YYYYMMDD (e.g. 20130112)
//   line 2    the download link (http or https)
//   line 3... the description of that build, one line each (may be none)
// A file that breaks this (empty, binary, a version that is not an 8-digit
// date, a missing or unsafe link) is ignored and logged to "Update Check".
// The reply is capped at kMaxReplyBytes and the whole exchange at the
// time-out, so a hostile or hanging host costs nothing.
//
// The host is MARROWBY_WEB from the environment (host or host:port) or else
// the build's default web host; the request is plain HTTP.
//
// Init() arms the checker and connects the server connection's Connected()
// signal (when `gp_server` exists) to Check(), so the check runs each time a
// login succeeds; a check still running is not started twice.
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The running build, a date written YYYYMMDD.
extern const qint64 g_currentVersion;

class UpdateChecker : public QObject {
    Q_OBJECT
public:
    explicit UpdateChecker(QObject* parent = nullptr);
    ~UpdateChecker() override;

    static constexpr qint64 kMaxReplyBytes = 64 * 1024;
    static constexpr int kDefaultTimeoutMs = 30000;

    void Init();
    void SetTimeout(int ms) { m_timeoutMs = ms; }

    // The address of the version file on the configured web host.
    static QUrl VersionFileUrl();

    struct VersionFile {
        qint64 version = 0;
        QString link;
        QStringList description;
    };
    // Parses a version file; nothing when it is malformed (the reason goes
    // to *error when given).
    static std::optional<VersionFile> Parse(const QByteArray& bytes, QString* error = nullptr);

public slots:
    // Fetches the version file now (once Init() was called).
    void Check();

signals:
    void NewVersion(qint64 version, QString link, QStringList description);
    // Every check ends with this: whether it got a well-formed file.
    void CheckFinished(bool ok);

private slots:
    void OnReadyRead();
    void OnFinished();
    void OnTimeout();

private:
    void Abort(const QString& reason);
    void Finish(bool ok);

    QNetworkAccessManager* m_web;
    QTimer* m_timer;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_buffer;
    QString m_abortReason;
    bool m_armed = false;
    int m_timeoutMs = kDefaultTimeoutMs;
};
