#include "ThreadedServices.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <cstring>

namespace {

const char* kDescription = "MarrowbyQt";
const char* kProtocol = "TCP";

QString ErrorText(int code)
{
    const char* text = strupnperror(code);
    return text ? QStringLiteral("%1 (%2)").arg(QString::fromLatin1(text)).arg(code)
                : QStringLiteral("error %1").arg(code);
}

} // namespace

ThreadedServices::ThreadedServices()
    : m_urls(new UPNPUrls)
    , m_data(new IGDdatas)
{
    std::memset(m_urls, 0, sizeof(UPNPUrls));
    std::memset(m_data, 0, sizeof(IGDdatas));
}

ThreadedServices::~ThreadedServices()
{
    ForgetGateway();
    delete m_urls;
    delete m_data;
}

void ThreadedServices::ForgetGateway()
{
    if (m_haveGateway)
        FreeUPNPUrls(m_urls);
    std::memset(m_urls, 0, sizeof(UPNPUrls));
    std::memset(m_data, 0, sizeof(IGDdatas));
    m_haveGateway = false;
    m_lanAddress.clear();
}

void ThreadedServices::Discover(const DiscoveryOptions& options)
{
    // Mappings made through a previous gateway are not forgotten: the same
    // router usually answers again, and removal at shutdown goes to it.
    ForgetGateway();

    const QByteArray ifName = options.multicastIf.toUtf8();
    int error = 0;
    UPNPDev* devices = upnpDiscover(qBound(100, options.timeoutMs, 60000),
        ifName.isEmpty() ? nullptr : ifName.constData(), nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
    if (m_stopping) {
        // Shutdown no longer waits for this: nothing more is asked of the
        // network, nothing is reported.
        freeUPNPDevlist(devices);
        return;
    }
    if (!devices) {
        emit GatewayNotFound(error ? QStringLiteral("no UPnP device answered (error %1)").arg(error)
                                   : QStringLiteral("no UPnP device answered"));
        return;
    }

    char lan[64] = {};
    const int found = UPNP_GetValidIGD(devices, m_urls, m_data, lan, sizeof lan);
    freeUPNPDevlist(devices);
    if (found == 1 || found == 2) {
        // 2: the gateway says its WAN link is down; mapping is still worth a
        // try, since many routers report this wrongly.
        m_haveGateway = true;
        m_lanAddress = QByteArray(lan, int(strnlen(lan, sizeof lan)));
        emit GatewayFound(QString::fromLatin1(m_lanAddress), QString::fromUtf8(m_urls->controlURL));
        return;
    }
    if (found != 0)
        FreeUPNPUrls(m_urls);
    std::memset(m_urls, 0, sizeof(UPNPUrls));
    emit GatewayNotFound(found == 0 ? QStringLiteral("no UPnP device answered as an Internet gateway")
                                    : QStringLiteral("the UPnP device found is not an Internet gateway"));
}

int ThreadedServices::AddMapping(int port, const char* lease)
{
    const QByteArray p = QByteArray::number(port);
    return UPNP_AddPortMapping(m_urls->controlURL, m_data->first.servicetype, p.constData(), p.constData(),
        m_lanAddress.constData(), kDescription, kProtocol, nullptr, lease);
}

void ThreadedServices::MapPorts(const QList<int>& ports, bool discover, const DiscoveryOptions& options)
{
    // Busy is raised before the stop flag is read: shutdown, which sets the
    // flag before reading Busy(), either sees this call or stops it here.
    m_busy = true;
    struct Idle {
        std::atomic<bool>& busy;
        ~Idle() { busy = false; }
    } idle { m_busy };
    if (m_stopping)
        return;
    if (discover || !m_haveGateway)
        Discover(options);
    for (int port : ports) {
        if (m_stopping)
            return;
        if (port < 1 || port > 65535) {
            emit PortMapped(port, false, QStringLiteral("not a valid port"));
            continue;
        }
        if (!m_haveGateway) {
            emit PortMapped(port, false, QStringLiteral("no UPnP gateway"));
            continue;
        }
        int result = AddMapping(port, QByteArray::number(kLeaseSeconds).constData());
        if (result == 725) // OnlyPermanentLeasesSupported
            result = AddMapping(port, "0");
        if (result == UPNPCOMMAND_SUCCESS) {
            m_mapped.insert(port);
            emit PortMapped(port, true, QString::fromLatin1(m_lanAddress));
        } else {
            emit PortMapped(port, false, ErrorText(result));
            // Below zero: no answer at all (socket or HTTP failure). The
            // router may have restarted elsewhere; search again next time.
            if (result < 0)
                ForgetGateway();
        }
    }
}

void ThreadedServices::RemoveMappings()
{
    const QList<int> ports = m_mapped.values();
    m_mapped.clear();
    for (int port : ports) {
        if (!m_haveGateway) {
            emit PortUnmapped(port, false, QStringLiteral("no UPnP gateway"));
            continue;
        }
        const QByteArray p = QByteArray::number(port);
        const int result = UPNP_DeletePortMapping(
            m_urls->controlURL, m_data->first.servicetype, p.constData(), kProtocol, nullptr);
        // 714 NoSuchEntryInArray: the lease ran out or the router forgot it.
        const bool ok = result == UPNPCOMMAND_SUCCESS || result == 714;
        emit PortUnmapped(port, ok, ok ? QString() : ErrorText(result));
    }
}
