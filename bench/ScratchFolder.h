// A benchmark's scratch folder, named <base>/bench_<name>-<pid>-XXXXXX.
//
// It is removed when it goes out of scope, and also when the run ends on a
// crash or a signal: the handler removes every scratch folder of the process
// with rm before the signal takes its course. A run that was killed outright
// leaves its folder behind; the next run of the same benchmark removes the
// folders of its earlier runs whose process is gone.
#pragma once
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ScratchFolder {
public:
    explicit ScratchFolder(const char* bench, const QString& base = QDir::tempPath())
        : m_dir(QStringLiteral("%1/bench_%2-%3-XXXXXX").arg(base, QLatin1String(bench)).arg(::getpid()))
    {
        RemoveLeftovers(base, QStringLiteral("bench_%1-").arg(QLatin1String(bench)));
        if (!m_dir.isValid()) {
            std::fprintf(stderr, "bench_%s: cannot make a folder in %s: %s\n", bench, qPrintable(base),
                qPrintable(m_dir.errorString()));
            return;
        }
        m_slot = Register(QFile::encodeName(m_dir.path()));
    }
    ~ScratchFolder() { remove(); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    bool remove()
    {
        if (m_slot >= 0)
            Slots()[m_slot].used = false;
        m_slot = -1;
        return m_dir.remove();
    }

private:
    struct Slot {
        std::atomic<bool> used { false };
        char path[4096] = {};
    };
    static constexpr int kSlots = 8;
    static Slot* Slots()
    {
        static Slot table[kSlots];
        return table;
    }

    // Folders of earlier runs whose process no longer exists.
    static void RemoveLeftovers(const QString& base, const QString& prefix)
    {
        const QStringList names
            = QDir(base).entryList({ prefix + QLatin1Char('*') }, QDir::Dirs | QDir::Hidden);
        for (const QString& name : names) {
            bool number = false;
            const pid_t pid = pid_t(name.mid(prefix.size()).section(QLatin1Char('-'), 0, 0).toLong(&number));
            if (!number || pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
                continue;
            std::fprintf(
                stderr, "removing %s, left by an earlier run\n", qPrintable(base + QLatin1Char('/') + name));
            QDir(base + QLatin1Char('/') + name).removeRecursively();
        }
    }

    static int Register(const QByteArray& path)
    {
        if (path.size() >= int(sizeof(Slot::path)))
            return -1;
        for (int k = 0; k < kSlots; ++k) {
            Slot& slot = Slots()[k];
            if (slot.used)
                continue;
            std::memcpy(slot.path, path.constData(), size_t(path.size()) + 1);
            slot.used = true;
            InstallHandlers();
            return k;
        }
        return -1;
    }

    static void InstallHandlers()
    {
        static bool installed = false;
        if (installed)
            return;
        installed = true;
        struct sigaction action { };
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        for (int signal : { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGINT, SIGHUP, SIGQUIT })
            ::sigaction(signal, &action, nullptr);
    }

    // Only calls that are safe in a signal handler: fork, exec, wait, raise.
    static void OnSignal(int signal)
    {
        for (int k = 0; k < kSlots; ++k) {
            Slot& slot = Slots()[k];
            if (!slot.used)
                continue;
            slot.used = false;
            const pid_t child = ::fork();
            if (child == 0) {
                ::execl("/bin/rm", "rm", "-rf", "--", slot.path, static_cast<char*>(nullptr));
                ::_exit(127);
            }
            if (child > 0) {
                int status = 0;
                ::waitpid(child, &status, 0);
            }
        }
        ::raise(signal);
    }

    QTemporaryDir m_dir;
    int m_slot = -1;
};

} // namespace
