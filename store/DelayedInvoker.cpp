#include "DelayedInvoker.h"
#include <QMetaMethod>
#include <QTimer>
#include <algorithm>
#include <cctype>

DelayedInvoker* delayedInvoker = nullptr;

DelayedInvoker::DelayedInvoker(QObject* parent)
    : QObject(parent)
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    for (auto& [key, pending] : m_pending)
        delete pending.timer;
    m_pending.clear();
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
}

bool DelayedInvoker::Invoke(QObject* target, const char* slot, int delayMs)
{
    if (!target || !slot)
        return false;
    // SLOT() puts a digit before the signature: 0 method, 1 slot, 2 signal.
    if (std::isdigit(static_cast<unsigned char>(slot[0])))
        ++slot;
    const QByteArray signature = QMetaObject::normalizedSignature(slot);
    const int index = target->metaObject()->indexOfMethod(signature.constData());
    if (index < 0 || target->metaObject()->method(index).parameterCount() != 0) {
        qWarning("DelayedInvoker: %s has no method %s without arguments", target->metaObject()->className(),
            signature.constData());
        return false;
    }
    const Key key(target, index);
    if (m_pending.count(key))
        return false;

    QTimer* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, key] { Fire(key); });
    m_pending.emplace(key, Pending { QPointer<QObject>(target), timer });
    // The key holds a raw address: forget it when the target goes, so that a
    // new object at the same address is not taken for a pending one.
    connect(target, &QObject::destroyed, this, &DelayedInvoker::OnTargetDestroyed, Qt::UniqueConnection);
    timer->start(std::max(0, delayMs));
    return true;
}

void DelayedInvoker::Fire(Key key)
{
    auto it = m_pending.find(key);
    if (it == m_pending.end())
        return;
    QPointer<QObject> target = it->second.target;
    it->second.timer->deleteLater();
    // Forget the request before the call, so that the slot may ask again.
    m_pending.erase(it);
    if (!target)
        return;
    ForgetTargetIfIdle(target);
    target->metaObject()->method(key.second).invoke(target, Qt::DirectConnection);
}

void DelayedInvoker::OnTargetDestroyed(QObject* target)
{
    for (auto it = m_pending.lower_bound(Key(target, -1));
         it != m_pending.end() && it->first.first == target;) {
        delete it->second.timer;
        it = m_pending.erase(it);
    }
}

void DelayedInvoker::ForgetTargetIfIdle(QObject* target)
{
    auto it = m_pending.lower_bound(Key(target, -1));
    if (it == m_pending.end() || it->first.first != target)
        disconnect(target, &QObject::destroyed, this, &DelayedInvoker::OnTargetDestroyed);
}
