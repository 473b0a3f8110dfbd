#pragma once
// Time as peers are judged by it: it runs while the client's thread turns
// its event loop, and stands still while that thread does (a long piece of
// work, a machine so loaded that the thread is not run), so the client's own
// pause is never charged to a peer.
//
// While someone is judged by it (Run()), a timer ticks every kTickMs, and
// each tick adds the time since the last one, but never more than
// kMostPerTickMs: a pause of the thread counts as that much at most. When
// nobody needs it (needed() says so at a tick), it stops ticking; the time
// until it runs again counts as one tick's worth at most.
#include <QElapsedTimer>
#include <QObject>
#include <functional>

class QTimer;

class ReadingClock : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;
    static constexpr qint64 kMostPerTickMs = 250;

    explicit ReadingClock(std::function<bool()> needed, QObject* parent = nullptr);

    // Milliseconds counted, from an arbitrary start.
    qint64 NowMs() const;
    // Ticks (unless it does) until needed() is false.
    void Run();

private:
    void Tick();

    std::function<bool()> m_needed;
    QTimer* m_timer;
    QElapsedTimer m_since; // the last tick
    qint64 m_counted = 0;
};
