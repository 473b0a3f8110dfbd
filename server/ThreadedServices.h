#pragma once
// The UPnP worker. It lives on the port forwarder's own thread and is driven
// only by queued calls; miniupnpc blocks for seconds (discovery waits for
// answers, each SOAP call is a fresh HTTP exchange), which is why none of it
// may run on the GUI thread. It never touches the item store or the log: its
// findings go back to the GUI thread as queued signals.
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <atomic>

struct UPNPUrls;
struct IGDdatas;

class ThreadedServices : public QObject {
    Q_OBJECT
public:
    ThreadedServices();
    ~ThreadedServices() override;

    // Lease asked of the gateway for each mapping: the hourly renewal keeps
    // it alive, and a client that died leaves nothing behind for long.
    static constexpr int kLeaseSeconds = 7200;

    // How the gateway is searched for: an empty interface lets the system
    // choose; otherwise it is an interface name or its IPv4 address.
    struct DiscoveryOptions {
        QString multicastIf;
        int timeoutMs = 2000;
    };

    // Adds (or refreshes) a TCP mapping of each port to the same port of the
    // local address that the gateway sees. Searches for the gateway first
    // when `discover` is set or no gateway is known.
    void MapPorts(const QList<int>& ports, bool discover, const DiscoveryOptions& options);
    // Deletes every mapping that this worker made.
    void RemoveMappings();

    // Thread-safe: pending discovery and mapping calls return at once, and
    // one in progress stops before its next port. Removal still runs.
    void RequestStop() { m_stopping = true; }
    // Thread-safe: a discovery or mapping is in progress. Once RequestStop()
    // has been called, false means that none will start any more.
    bool Busy() const { return m_busy; }

signals:
    void GatewayFound(const QString& lanAddress, const QString& controlUrl);
    void GatewayNotFound(const QString& reason);
    void PortMapped(int port, bool ok, const QString& detail);
    void PortUnmapped(int port, bool ok, const QString& detail);

private:
    void Discover(const DiscoveryOptions& options);
    void ForgetGateway();
    int AddMapping(int port, const char* lease);

    UPNPUrls* m_urls;
    IGDdatas* m_data;
    bool m_haveGateway = false;
    QByteArray m_lanAddress;
    QSet<int> m_mapped;
    std::atomic<bool> m_stopping { false };
    std::atomic<bool> m_busy { false };
};
