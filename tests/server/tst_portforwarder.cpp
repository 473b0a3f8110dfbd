// PortForwarder against a real UPnP gateway: miniupnpd runs in a network
// namespace of its own, joined by a veth pair to a second namespace where the
// forwarder runs (marrowby_upnp_driver). Whether a mapping exists is read
// from the gateway's own nftables rules, not from the forwarder.
//
// Addresses: 10.213.7.1 (gateway, LAN side), 10.213.7.2 (client), 10.213.8.1
// (gateway, WAN side; its peer end stays unconnected). Neither namespace has
// a route out. miniupnpd refuses to forward when its WAN address is private,
// so it is told a public one with ext_ip: it only reports it, and nothing is
// ever sent there.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

const QString kGatewayAddress = QStringLiteral("10.213.7.1");
const QString kClientAddress = QStringLiteral("10.213.7.2");

// Runs a command to its end (bounded) and gives its output.
bool Run(const QString& program, const QStringList& args, QString* output = nullptr, int timeoutMs = 10000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return false;
    }
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A child process whose output is read line by line.
class Child {
public:
    ~Child() { Stop(); }

    void Start(const QString& program, const QStringList& args, const QProcessEnvironment& env = {})
    {
        if (!env.isEmpty())
            m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, args);
        m_process.waitForStarted(5000);
    }

    // Waits (bounded) for a line matching the pattern after line `from`;
    // gives its index, or -1.
    int WaitFor(const QString& pattern, int timeoutMs, int from = 0)
    {
        const QRegularExpression re(pattern);
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            Collect();
            for (int i = from; i < m_lines.size(); ++i) {
                if (re.match(m_lines[i]).hasMatch())
                    return i;
            }
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || m_process.state() == QProcess::NotRunning)
                return -1;
            m_process.waitForReadyRead(int(qMin<qint64>(left, 200)));
        }
    }

    int Count(const QString& pattern)
    {
        Collect();
        const QRegularExpression re(pattern);
        int n = 0;
        for (const QString& line : m_lines)
            n += re.match(line).hasMatch() ? 1 : 0;
        return n;
    }

    void Write(const QByteArray& bytes)
    {
        m_process.write(bytes);
        m_process.waitForBytesWritten(2000);
    }

    bool WaitForExit(int timeoutMs) { return m_process.waitForFinished(timeoutMs); }
    bool ExitedCleanly() const
    {
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    qint64 Pid() const { return m_process.processId(); }
    QString Output()
    {
        Collect();
        return m_lines.join(u'\n');
    }

    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        const qint64 pid = m_process.processId();
        if (pid > 0)
            ::kill(pid_t(pid), SIGCONT); // a stopped process cannot end
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    void Collect()
    {
        m_partial += m_process.readAll();
        qsizetype end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            m_lines.append(QString::fromUtf8(m_partial.left(end)));
            m_partial.remove(0, end + 1);
        }
    }

    QProcess m_process;
    QByteArray m_partial;
    QStringList m_lines;
};

} // namespace

class TestPortForwarder : public QObject {
    Q_OBJECT
public:
    ~TestPortForwarder() override { TearDown(); }

private slots:
    void initTestCase();
    void cleanupTestCase() { TearDown(); }

    void withoutGatewayNothingIsMappedAndInitDoesNotWait();
    void quitDuringDiscoveryDoesNotWait();
    void switchedOffSendsNothing();
    void mapsBothPortsRenewsAndRemovesThemAtShutdown();
    void refusedPortIsReportedAndNotRemoved();
    void shutdownIsBoundedWhenGatewayHangs();

private:
    void RemoveStaleNamespaces();
    bool SetUpNamespaces(QString* error);
    void StartGateway();
    void TearDown();
    QString Rules();
    int RuleCount(int port);
    void StartDriver(
        Child& driver, const QString& useUpnp, int port, int obfuscatedPort, int discoveryMs = 0);

    QString m_gateway; // namespace names
    QString m_client;
    QTemporaryDir m_dir;
    QString m_driverPath;
    std::unique_ptr<Child> m_miniupnpd;
};

void TestPortForwarder::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("Network namespaces need root; the gateway tests do not run here.");
    for (const char* tool : { "ip", "miniupnpd", "nft" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool), { "/usr/sbin", "/sbin", "/usr/bin" })
                .isEmpty())
            QSKIP(qPrintable(
                QStringLiteral("%1 is not installed (packages iproute2, miniupnpd, nftables)").arg(tool)));
    }
    QString version;
    Run("miniupnpd", { "--version" }, &version);
    if (!version.contains("nftables"))
        QSKIP("miniupnpd is not built for nftables (package miniupnpd-nftables)");
    m_driverPath = qEnvironmentVariable("MARROWBY_BIN") + "/marrowby_upnp_driver";
    QVERIFY2(QFile::exists(m_driverPath), qPrintable("missing " + m_driverPath));
    QVERIFY(m_dir.isValid());

    RemoveStaleNamespaces();
    const QString pid = QString::number(QCoreApplication::applicationPid());
    m_gateway = "marrowby-gw-" + pid;
    m_client = "marrowby-cl-" + pid;
    if (!Run("ip", { "netns", "add", m_gateway })) {
        m_gateway.clear();
        m_client.clear();
        QSKIP("Network namespaces are not allowed here; the gateway tests do not run.");
    }
    QString error;
    QVERIFY2(SetUpNamespaces(&error), qPrintable(error));
}

// Namespaces left by a run of this test that died before it could clean up.
void TestPortForwarder::RemoveStaleNamespaces()
{
    QString list;
    if (!Run("ip", { "netns", "list" }, &list))
        return;
    static const QRegularExpression re(
        QStringLiteral("^(marrowby-(?:gw|cl)-(\\d+))\\b"), QRegularExpression::MultilineOption);
    auto it = re.globalMatch(list);
    while (it.hasNext()) {
        const auto m = it.next();
        if (QFile::exists("/proc/" + m.captured(2)))
            continue; // its test is still running
        QString pids;
        Run("ip", { "netns", "pids", m.captured(1) }, &pids);
        for (const QString& p : pids.split(u'\n', Qt::SkipEmptyParts))
            ::kill(pid_t(p.trimmed().toInt()), SIGKILL);
        Run("ip", { "netns", "del", m.captured(1) });
    }
}

bool TestPortForwarder::SetUpNamespaces(QString* error)
{
    const QString gw = m_gateway, cl = m_client;
    const QList<QStringList> steps = {
        { "netns", "add", cl },
        // The LAN link: created straight into the two namespaces.
        { "link", "add", "lan0", "netns", gw, "type", "veth", "peer", "name", "lan0", "netns", cl },
        // The WAN side of the gateway: a veth pair whose far end goes nowhere.
        { "-n", gw, "link", "add", "wan0", "type", "veth", "peer", "name", "wan1" },
        { "-n", gw, "addr", "add", kGatewayAddress + "/24", "dev", "lan0" },
        { "-n", gw, "addr", "add", "10.213.8.1/24", "dev", "wan0" },
        { "-n", cl, "addr", "add", kClientAddress + "/24", "dev", "lan0" },
        { "-n", gw, "link", "set", "lo", "up" },
        { "-n", gw, "link", "set", "lan0", "up" },
        { "-n", gw, "link", "set", "wan0", "up" },
        { "-n", gw, "link", "set", "wan1", "up" },
        { "-n", cl, "link", "set", "lo", "up" },
        { "-n", cl, "link", "set", "lan0", "up" },
    };
    for (const QStringList& step : steps) {
        QString out;
        if (!Run("ip", step, &out)) {
            *error = "ip " + step.join(u' ') + ": " + out;
            return false;
        }
    }

    // The chains that miniupnpd fills with its forwarding rules.
    const QString rules = m_dir.filePath("gateway.nft");
    QFile nft(rules);
    nft.open(QIODevice::WriteOnly);
    nft.write("table inet filter {\n"
              "  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }\n"
              "  chain miniupnpd { }\n"
              "  chain prerouting { type nat hook prerouting priority -100; policy accept; jump "
              "prerouting_miniupnpd; }\n"
              "  chain postrouting { type nat hook postrouting priority 100; policy accept; jump "
              "postrouting_miniupnpd; }\n"
              "  chain prerouting_miniupnpd { }\n"
              "  chain postrouting_miniupnpd { }\n"
              "}\n");
    nft.close();
    QString out;
    if (!Run("ip", { "netns", "exec", gw, "nft", "-f", rules }, &out)) {
        *error = "nft: " + out;
        return false;
    }

    QFile conf(m_dir.filePath("miniupnpd.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("ext_ifname=wan0\n"
                              "ext_ip=1.2.3.4\n"
                              "listening_ip=lan0\n"
                              "port=0\n"
                              "enable_upnp=yes\n"
                              "enable_natpmp=no\n"
                              "secure_mode=no\n"
                              "system_uptime=yes\n"
                              "lease_file=%1\n"
                              "uuid=6b1d0e5c-3c1e-4a5e-9a55-6d61726f7762\n"
                              "upnp_table_name=filter\n"
                              "upnp_nat_table_name=filter\n"
                              "upnp_forward_chain=miniupnpd\n"
                              "upnp_nat_chain=prerouting_miniupnpd\n"
                              "upnp_nat_postrouting_chain=postrouting_miniupnpd\n"
                              // Only internal ports 42000-42999 may be forwarded.
                              "allow 1024-65535 10.213.7.0/24 42000-42999\n"
                              "deny 0-65535 0.0.0.0/0 0-65535\n")
                   .arg(m_dir.filePath("leases"))
                   .toUtf8());
    conf.close();
    return true;
}

void TestPortForwarder::StartGateway()
{
    if (m_miniupnpd)
        return;
    m_miniupnpd = std::make_unique<Child>();
    // ip netns exec replaces itself with miniupnpd: the child is the daemon.
    m_miniupnpd->Start("ip",
        { "netns", "exec", m_gateway, "miniupnpd", "-d", "-f", m_dir.filePath("miniupnpd.conf"), "-P",
            m_dir.filePath("miniupnpd.pid") });
    QVERIFY2(m_miniupnpd->WaitFor("HTTP listening on port", 10000) >= 0, qPrintable(m_miniupnpd->Output()));
}

void TestPortForwarder::TearDown()
{
    m_miniupnpd.reset();
    if (!m_client.isEmpty())
        Run("ip", { "netns", "del", m_client });
    if (!m_gateway.isEmpty())
        Run("ip", { "netns", "del", m_gateway });
    m_client.clear();
    m_gateway.clear();
}

QString TestPortForwarder::Rules()
{
    QString out;
    Run("ip",
        { "netns", "exec", m_gateway, "nft", "list", "chain", "inet", "filter", "prerouting_miniupnpd" },
        &out);
    return out;
}

// Forwarding rules of the gateway for the port to the client's same port.
int TestPortForwarder::RuleCount(int port)
{
    const QRegularExpression re(
        QStringLiteral("dport %1 .*%2:%1\\b").arg(port).arg(QRegularExpression::escape(kClientAddress)));
    int n = 0;
    for (const QString& line : Rules().split(u'\n'))
        n += re.match(line).hasMatch() ? 1 : 0;
    return n;
}

void TestPortForwarder::StartDriver(
    Child& driver, const QString& useUpnp, int port, int obfuscatedPort, int discoveryMs)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MARROWBY_UPNP_IF", "lan0"); // the client namespace has no default route
    QStringList args { "netns", "exec", m_client, m_driverPath, useUpnp, QString::number(port),
        QString::number(obfuscatedPort) };
    if (discoveryMs)
        args << QString::number(discoveryMs);
    driver.Start("ip", args, env);
}

void TestPortForwarder::withoutGatewayNothingIsMappedAndInitDoesNotWait()
{
    QVERIFY(!m_miniupnpd);
    Child driver;
    StartDriver(driver, "yes", 42235, 42236);
    const int init = driver.WaitFor("^init ", 10000);
    QVERIFY2(init >= 0, qPrintable(driver.Output()));
    // Discovery waits 2 s for answers; Init() must not.
    const QRegularExpression re(QStringLiteral("^init true (\\d+)$"));
    const auto m = re.match(driver.Output().split(u'\n')[init]);
    QVERIFY2(m.hasMatch(), qPrintable(driver.Output()));
    QVERIFY2(m.captured(1).toInt() < 500, qPrintable(driver.Output()));

    QVERIFY2(driver.WaitFor("^nogateway$", 15000) >= 0, qPrintable(driver.Output()));
    QVERIFY2(driver.WaitFor("^mapped 42235 fail$", 5000) >= 0, qPrintable(driver.Output()));
    QVERIFY2(driver.WaitFor("^mapped 42236 fail$", 5000) >= 0, qPrintable(driver.Output()));
    driver.Write("quit\n");
    QVERIFY2(driver.WaitFor("^done$", 10000) >= 0, qPrintable(driver.Output()));
    QVERIFY(driver.WaitForExit(5000));
    QCOMPARE(driver.Count("^unmapped"), 0);
    QVERIFY2(driver.Count("^log No UPnP gateway found") == 1, qPrintable(driver.Output()));
}

void TestPortForwarder::quitDuringDiscoveryDoesNotWait()
{
    // Nothing answers the search, which waits 10 s for answers; the user
    // quits while it runs.
    QVERIFY(!m_miniupnpd);
    Child driver;
    StartDriver(driver, "yes", 42235, 42236, 10000);
    QVERIFY2(driver.WaitFor("^init true", 10000) >= 0, qPrintable(driver.Output()));
    QTest::qWait(300); // the search is under way
    QElapsedTimer clock;
    clock.start();
    driver.Write("quit\n");
    const bool exited = driver.WaitForExit(10000);
    const qint64 took = clock.elapsed();
    QVERIFY2(exited, qPrintable(driver.Output()));
    QVERIFY2(took < 1000, qPrintable(QStringLiteral("quitting took %1 ms\n").arg(took) + driver.Output()));
    // The search left behind neither reports nor (under the sanitizers) faults.
    QVERIFY2(driver.ExitedCleanly(), qPrintable(driver.Output()));
    QCOMPARE(driver.Count("^(gateway|nogateway|mapped|unmapped)"), 0);
    QVERIFY2(driver.Count("^log Quitting without waiting") == 1, qPrintable(driver.Output()));
    QVERIFY2(driver.Count("AddressSanitizer|runtime error") == 0, qPrintable(driver.Output()));
}

void TestPortForwarder::switchedOffSendsNothing()
{
    StartGateway();
    const int searchesBefore
        = m_miniupnpd->Count("M-SEARCH from " + QRegularExpression::escape(kClientAddress));
    Child driver;
    StartDriver(driver, "no", 42235, 42236);
    QVERIFY2(driver.WaitFor("^init false", 10000) >= 0, qPrintable(driver.Output()));
    driver.Write("renew\n"); // the hourly renewal too
    QTest::qWait(3000);
    driver.Write("quit\n");
    QVERIFY2(driver.WaitFor("^done$", 10000) >= 0, qPrintable(driver.Output()));
    QCOMPARE(driver.Count("^(gateway|nogateway|mapped|unmapped)"), 0);
    QCOMPARE(
        m_miniupnpd->Count("M-SEARCH from " + QRegularExpression::escape(kClientAddress)), searchesBefore);
    QCOMPARE(RuleCount(42235), 0);
}

void TestPortForwarder::mapsBothPortsRenewsAndRemovesThemAtShutdown()
{
    StartGateway();
    Child driver;
    StartDriver(driver, "yes", 42235, 42236);
    QVERIFY2(driver.WaitFor("^gateway " + QRegularExpression::escape(kClientAddress) + "$", 15000) >= 0,
        qPrintable(driver.Output()));
    QVERIFY2(driver.WaitFor("^mapped 42235 ok$", 10000) >= 0, qPrintable(driver.Output()));
    const int second = driver.WaitFor("^mapped 42236 ok$", 10000);
    QVERIFY2(second >= 0, qPrintable(driver.Output()));
    QCOMPARE(RuleCount(42235), 1);
    QCOMPARE(RuleCount(42236), 1);

    // Renewal refreshes the same mappings: no second rule per port.
    driver.Write("renew\n");
    QVERIFY2(driver.WaitFor("^mapped 42235 ok$", 10000, second + 1) >= 0, qPrintable(driver.Output()));
    QVERIFY2(driver.WaitFor("^mapped 42236 ok$", 10000, second + 1) >= 0, qPrintable(driver.Output()));
    QCOMPARE(driver.Count("^gateway "), 1); // no new search while the gateway is known
    QCOMPARE(RuleCount(42235), 1);
    QCOMPARE(RuleCount(42236), 1);

    driver.Write("quit\n");
    QVERIFY2(driver.WaitFor("^done$", 10000) >= 0, qPrintable(driver.Output()));
    QVERIFY(driver.WaitForExit(5000));
    QCOMPARE(driver.Count("^unmapped 42235 ok$"), 1);
    QCOMPARE(driver.Count("^unmapped 42236 ok$"), 1);
    QCOMPARE(RuleCount(42235), 0);
    QCOMPARE(RuleCount(42236), 0);
    QVERIFY2(driver.Count("^log Found UPnP gateway") == 1, qPrintable(driver.Output()));
    QVERIFY2(driver.Count("^log Forwarded TCP port 42235 to 10.213.7.2$") == 2, qPrintable(driver.Output()));
    QVERIFY2(
        driver.Count("^log Removed the forwarding of TCP port 42236$") == 1, qPrintable(driver.Output()));
}

void TestPortForwarder::refusedPortIsReportedAndNotRemoved()
{
    StartGateway();
    Child driver;
    // The gateway forwards internal ports 42000-42999 only.
    StartDriver(driver, "yes", 42500, 43500);
    QVERIFY2(driver.WaitFor("^mapped 42500 ok$", 15000) >= 0, qPrintable(driver.Output()));
    QVERIFY2(driver.WaitFor("^mapped 43500 fail$", 10000) >= 0, qPrintable(driver.Output()));
    QCOMPARE(RuleCount(42500), 1);
    QCOMPARE(RuleCount(43500), 0);
    driver.Write("quit\n");
    QVERIFY2(driver.WaitFor("^done$", 10000) >= 0, qPrintable(driver.Output()));
    QCOMPARE(driver.Count("^unmapped 42500 ok$"), 1);
    QCOMPARE(driver.Count("^unmapped 43500"), 0);
    QVERIFY2(driver.Count("^log Could not forward TCP port 43500: ") == 1, qPrintable(driver.Output()));
    QCOMPARE(RuleCount(42500), 0);
}

void TestPortForwarder::shutdownIsBoundedWhenGatewayHangs()
{
    StartGateway();
    Child driver;
    StartDriver(driver, "yes", 42601, 42602);
    QVERIFY2(driver.WaitFor("^mapped 42602 ok$", 15000) >= 0, qPrintable(driver.Output()));

    // The gateway stops answering: its socket still accepts, nothing replies.
    const pid_t daemon = pid_t(m_miniupnpd->Pid());
    QVERIFY(daemon > 0);
    QCOMPARE(::kill(daemon, SIGSTOP), 0);
    QElapsedTimer clock;
    clock.start();
    driver.Write("quit\n");
    const bool done = driver.WaitFor("^done$", 15000) >= 0;
    const qint64 took = clock.elapsed();
    ::kill(daemon, SIGCONT);
    QVERIFY2(done, qPrintable(driver.Output()));
    QVERIFY2(took < 4000, qPrintable(QStringLiteral("shutdown took %1 ms").arg(took)));
    QVERIFY(driver.WaitForExit(5000));
    QVERIFY2(driver.Count("^log The UPnP gateway did not answer in time") == 1, qPrintable(driver.Output()));
}

QTEST_GUILESS_MAIN(TestPortForwarder)
#include "tst_portforwarder.moc"
