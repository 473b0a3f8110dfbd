#include "PortForwarder.h"
#include "Server.h"
#include "ThreadedServices.h"

#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

PortForwarder* portForwarder = nullptr;

namespace {

const QString kArea = QStringLiteral("Port Forwarding");

bool SettingsReady()
{
    return d.HasType("global") != nullptr;
}

bool UpnpWanted()
{
    return SettingsReady() && settings.IsYes("use_upnp");
}

int PortSetting(const char* key, int fallback)
{
    if (!SettingsReady() || !settings.Has(key))
        return fallback;
    return settings.GetInt(key);
}

} // namespace

PortForwarder::PortForwarder(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_worker(new ThreadedServices)
    , m_multicastIf(qEnvironmentVariable("MARROWBY_UPNP_IF"))
{
    portForwarder = this;
    m_thread->setObjectName(QStringLiteral("Port Forwarding"));
    m_worker->moveToThread(m_thread);
    connect(m_worker, &ThreadedServices::GatewayFound, this, &PortForwarder::OnGatewayFound);
    connect(m_worker, &ThreadedServices::GatewayNotFound, this, &PortForwarder::OnGatewayNotFound);
    connect(m_worker, &ThreadedServices::PortMapped, this, &PortForwarder::OnPortMapped);
    connect(m_worker, &ThreadedServices::PortUnmapped, this, &PortForwarder::OnPortUnmapped);
    // The worker goes with its thread, on that thread, whether shutdown waits
    // for it or not.
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

PortForwarder::~PortForwarder()
{
    Shutdown();
    if (portForwarder == this)
        portForwarder = nullptr;
}

void PortForwarder::SetDiscoveryOptions(const QString& multicastIf, int timeoutMs)
{
    m_multicastIf = multicastIf;
    m_timeoutMs = timeoutMs;
}

QList<int> PortForwarder::ListeningPorts()
{
    if (gp_server)
        return gp_server->ListeningPorts();
    QList<int> ports;
    for (int port : { PortSetting("listening_port", kDefaultPort),
             PortSetting("obfuscated_listening_port", kDefaultObfuscatedPort) }) {
        if (!ports.contains(port))
            ports.append(port);
    }
    return ports;
}

bool PortForwarder::QueueMapping(bool discover)
{
    ThreadedServices* worker = m_worker;
    const ThreadedServices::DiscoveryOptions options { m_multicastIf, m_timeoutMs };
    const QList<int> ports = ListeningPorts(); // the worker refuses invalid ones
    return QMetaObject::invokeMethod(
        worker, [worker, ports, discover, options] { worker->MapPorts(ports, discover, options); },
        Qt::QueuedConnection);
}

bool PortForwarder::Init()
{
    if (!m_worker || !UpnpWanted())
        return false;
    Log(kArea, 1, QStringLiteral("Searching for a UPnP gateway"));
    return QueueMapping(true);
}

void PortForwarder::MapNewPorts()
{
    if (!m_worker || !UpnpWanted())
        return;
    QStringList ports;
    for (int port : ListeningPorts())
        ports.append(QString::number(port));
    Log(kArea, 1,
        QStringLiteral("Forwarding the ports now listened on: %1").arg(ports.join(QStringLiteral(", "))));
    QueueMapping(false);
}

void PortForwarder::OnHourTimer()
{
    if (!m_worker || !UpnpWanted())
        return;
    Log(kArea, 1, QStringLiteral("Renewing the port forwarding"));
    QueueMapping(false);
}

void PortForwarder::Shutdown()
{
    if (!m_worker)
        return;
    ThreadedServices* worker = m_worker;
    QThread* thread = m_thread;
    m_worker = nullptr;
    m_thread = nullptr;

    // Calls still queued return at once; the deletion runs after them, and
    // the thread's loop ends behind it. Whether the worker is busy is read
    // before the deletion is queued: once that has run, the thread may end
    // and take the worker with it.
    worker->RequestStop();
    // A call that has just made its last report is idle a moment later: give
    // it that moment, so the mappings it made are still removed.
    QElapsedTimer settling;
    settling.start();
    bool busy = worker->Busy();
    while (busy && settling.elapsed() < kSettleMs) {
        QThread::msleep(5);
        busy = worker->Busy();
    }
    const bool queued = QMetaObject::invokeMethod(
        worker,
        [worker] {
            worker->RemoveMappings();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!queued)
        thread->quit();

    // A discovery waits out its whole timeout and a mapping call may hang on
    // a silent gateway: neither holds the exit. The thread finishes on its
    // own (deleting the worker, see the constructor) and is left to the end
    // of the process; nothing here is touched by it any more.
    if (busy || !thread->wait(kShutdownWaitMs)) {
        Log(kArea, 1,
            busy ? QStringLiteral("Quitting without waiting for the UPnP search or mapping in progress")
                 : QStringLiteral(
                       "The UPnP gateway did not answer in time; port mappings may be left behind"));
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        return;
    }
    // Deliver the worker's last reports (removed mappings) before going.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    delete thread;
}

void PortForwarder::OnGatewayFound(const QString& lanAddress, const QString& controlUrl)
{
    Log(kArea, 1,
        QStringLiteral("Found UPnP gateway %1; this computer is %2 on its network")
            .arg(controlUrl, lanAddress));
    emit GatewayFound(lanAddress);
}

void PortForwarder::OnGatewayNotFound(const QString& reason)
{
    Log(kArea, 1, QStringLiteral("No UPnP gateway found: %1").arg(reason));
    emit GatewayNotFound(reason);
}

void PortForwarder::OnPortMapped(int port, bool ok, const QString& detail)
{
    if (ok)
        Log(kArea, 1, QStringLiteral("Forwarded TCP port %1 to %2").arg(port).arg(detail));
    else
        Log(kArea, 1, QStringLiteral("Could not forward TCP port %1: %2").arg(port).arg(detail));
    emit PortMapped(port, ok);
}

void PortForwarder::OnPortUnmapped(int port, bool ok, const QString& detail)
{
    if (ok)
        Log(kArea, 1, QStringLiteral("Removed the forwarding of TCP port %1").arg(port));
    else
        Log(kArea, 1,
            QStringLiteral("Could not remove the forwarding of TCP port %1: %2").arg(port).arg(detail));
    emit PortUnmapped(port, ok);
}
