#pragma once
// Forwards the plain and the obfuscated listening port on the local router by
// UPnP. Lives on the GUI thread; all UPnP work runs on a ThreadedServices
// worker on a thread of its own, driven by queued calls, so nothing here ever
// waits on the network. Shutdown alone waits, for a bounded time, so that the
// mappings are deleted before the program exits; it never waits for a
// discovery or mapping in progress (a discovery lasts its whole timeout).
//
// Nothing happens unless the setting "use_upnp" is "yes". The ports are those
// the peer network holds, as told to the server connection (none while it
// listens on nothing); a forwarder without a server connection takes
// "listening_port" and "obfuscated_listening_port" (2235 and 2236 when unset).
// They are read each time they are mapped. Progress is logged to the area
// "Port Forwarding".
//
// Wiring: the server connection creates the single instance (global
// `portForwarder`), calls Init() once the settings are loaded and connects
// the hourly timer to OnHourTimer(). Discovery uses the default multicast
// interface and a 2 s wait; the environment variable MARROWBY_UPNP_IF (an
// interface name or IPv4 address) or SetDiscoveryOptions() overrides that.
#include <QList>
#include <QObject>
#include <QString>

class QThread;
class ThreadedServices;

class PortForwarder : public QObject {
    Q_OBJECT
public:
    explicit PortForwarder(QObject* parent = nullptr);
    ~PortForwarder() override; // calls Shutdown()

    static constexpr int kDefaultPort = 2235;
    static constexpr int kDefaultObfuscatedPort = 2236;
    // How long shutdown may hold the GUI thread for the mappings' deletion
    // (a gateway answers each in milliseconds; the leases end on their own).
    static constexpr int kShutdownWaitMs = 2000;
    // How long shutdown gives a discovery or mapping in progress to end
    // before leaving it to finish on its own.
    static constexpr int kSettleMs = 200;

    // Asks the worker to discover the gateway and map both listening ports.
    // Returns whether the call was queued (false while "use_upnp" is not
    // "yes" or after shutdown).
    bool Init();
    // Queued deletion of the mappings, then the worker thread is stopped and
    // joined (bounded); while a discovery or mapping is in progress the
    // thread is left to end by itself instead. Safe to call twice.
    void Shutdown();

    // The ports held changed (another pair for this run): maps them, after
    // the discovery when one is under way. Does nothing while "use_upnp" is
    // not "yes".
    void MapNewPorts();

    void SetDiscoveryOptions(const QString& multicastIf, int timeoutMs);
    // The listening ports in use now (see above).
    static QList<int> ListeningPorts();

public slots:
    // Hourly renewal: maps the ports again (discovering first when no
    // gateway was found yet). Does nothing while "use_upnp" is not "yes".
    void OnHourTimer();

signals:
    void GatewayFound(const QString& lanAddress);
    void GatewayNotFound(const QString& reason);
    void PortMapped(int port, bool ok);
    void PortUnmapped(int port, bool ok);

private slots:
    void OnGatewayFound(const QString& lanAddress, const QString& controlUrl);
    void OnGatewayNotFound(const QString& reason);
    void OnPortMapped(int port, bool ok, const QString& detail);
    void OnPortUnmapped(int port, bool ok, const QString& detail);

private:
    bool QueueMapping(bool discover);

    QThread* m_thread = nullptr;
    ThreadedServices* m_worker = nullptr;
    QString m_multicastIf;
    int m_timeoutMs = 2000;
};

extern PortForwarder* portForwarder;
