#pragma once
// Calls a slot of an object once after a delay. While a call of the same slot
// on the same object is pending, further requests for it are ignored, so a burst
// of requests ends in a single call (a results view asks for a sort on every
// reply and is sorted at most once a second). A target destroyed before its
// delay ends is not called.
#include <QObject>
#include <QPointer>
#include <map>
#include <utility>

class QTimer;

class DelayedInvoker : public QObject {
    Q_OBJECT
public:
    // Sets the global delayedInvoker.
    explicit DelayedInvoker(QObject* parent = nullptr);
    ~DelayedInvoker() override;

    // slot is the text that SLOT() makes: a code digit, then the signature
    // ("1Sort()"); a bare signature is taken as well. The slot takes no
    // arguments. Returns false when the request was ignored: no such slot, or
    // the same call is already pending.
    bool Invoke(QObject* target, const char* slot, int delayMs);

    size_t PendingCount() const { return m_pending.size(); }

private slots:
    void OnTargetDestroyed(QObject* target);

private:
    using Key = std::pair<QObject*, int>; // target and method index
    struct Pending {
        QPointer<QObject> target;
        QTimer* timer;
    };

    void Fire(Key key);
    void ForgetTargetIfIdle(QObject* target);

    std::map<Key, Pending> m_pending;
};

extern DelayedInvoker* delayedInvoker;
