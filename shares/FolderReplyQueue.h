#pragma once
// Folder replies (peer code 37) waiting to be built, each for the connection
// that asked. They are built in the order asked, one at a time, each a slice
// per turn of the event loop (SlicedWork::Turn()) and compressed on a worker
// thread (FolderReplyBuild.cpp), so that a folder of many files never holds
// the window however many ask for it.
//
// What they cost together is bounded: a connection has at most
// kMaxRepliesBuilding of them under way (its further requests wait in its
// socket, PeerConnection.h), and at most kMaxWaiting wait in all; a request
// beyond that is answered with no reply at once (the log says how many, at
// most once every kRefusalReportMs). A connection that has gone cancels its
// builds, the one under way too.
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>

class FolderReplyQueue : public QObject {
    Q_OBJECT
public:
    static constexpr size_t kMaxWaiting = 512;
    static constexpr int kRefusalReportMs = 1000;
    // How soon a build waiting for something outside the turns (the worker)
    // is looked at again.
    static constexpr int kWaitMs = 5;

    struct Request {
        quint64 connection = 0;
        QString user;
        quint32 number = 0;
        QString folder;
    };
    // Goes on with one reply until the turn is over; true once it is done
    // (the connection has been answered, with a reply or without). Returning
    // false with time left in the turn means it waits.
    using Work = std::function<bool(const QDeadlineTimer& turn)>;
    using Begin = std::function<Work(const Request& request)>;
    // Answers the connection with no reply.
    using Refuse = std::function<void(quint64 connection)>;

    FolderReplyQueue(Begin begin, Refuse refuse, QObject* parent = nullptr);

    void Add(Request request);
    // The connection has gone: its builds are dropped, unanswered.
    void Cancel(quint64 connection);
    // Answers every build waiting with no reply (the builder goes away).
    void RefuseAll();
    // Builds waiting, the one under way included.
    size_t Waiting() const { return m_waiting.size() + (m_current ? 1 : 0); }

private:
    void Slice();

    Begin m_begin;
    Refuse m_refuse;
    std::deque<Request> m_waiting;
    Work m_current; // the build under way, if any
    quint64 m_currentConnection = 0;
    QTimer m_timer;
    qint64 m_refused = 0; // not said in the log yet
    QDeadlineTimer m_nextReport;
};
