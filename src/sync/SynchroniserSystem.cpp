#include "sync/SynchroniserSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
// windows.h first
#include <tlhelp32.h>
#else
#include <QLockFile>

#include <climits>
#include <unistd.h>
#endif

namespace corvane {

QString describeSynchroniser(const SynchroniserProcess& process) {
    if (!process.started.isValid())
        return QStringLiteral("process %1").arg(process.pid);
    return QStringLiteral("process %1, started %2")
        .arg(process.pid)
        .arg(process.started.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
}

namespace {

void sortOldestFirst(QList<SynchroniserProcess>& processes) {
    std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) {
        return a.started.isValid() && b.started.isValid() && a.started != b.started ? a.started < b.started
                                                                                    : a.pid < b.pid;
    });
}

QString hexStatus(quint32 code) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(code, 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

#ifdef Q_OS_WIN

namespace {

QDateTime fromFileTime(const FILETIME& time) {
    ULARGE_INTEGER ticks; // 100 ns since 1601-01-01 UTC
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    constexpr qint64 kUnixEpochMs = 11644473600000LL;
    return QDateTime::fromMSecsSinceEpoch(qint64(ticks.QuadPart / 10000) - kUnixEpochMs, Qt::UTC);
}

QString mutexName(const AgentPaths& paths) {
    // One lock per agent installation, which on a workstation is one per machine.
    const QByteArray key =
        QDir::toNativeSeparators(QFileInfo(paths.synchroniser()).absoluteFilePath()).toLower().toUtf8();
    return QStringLiteral("Global\\Corvane.PolicySync.") +
           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

QString formatted(DWORD flags, LPCVOID source, DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, source, code,
                         0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text = length ? QString::fromWCharArray(buffer, int(length)) : QString();
    ::LocalFree(buffer);
    // A status text may begin with its title in braces on a line of its own.
    if (text.startsWith(QLatin1Char('{')) && text.contains(QLatin1Char('\n')))
        text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
    return text.simplified();
}

} // namespace

QList<SynchroniserProcess> findSynchronisers(const QString& path) {
    QList<SynchroniserProcess> found;
    const QString image = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    const QString fileName = QFileInfo(path).fileName();
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (QString::fromWCharArray(entry.szExeFile).compare(fileName, Qt::CaseInsensitive) != 0)
            continue;
        SynchroniserProcess process;
        process.pid = entry.th32ProcessID;
        HANDLE handle = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (handle) {
            wchar_t buffer[32768];
            DWORD size = DWORD(std::size(buffer));
            const bool named = ::QueryFullProcessImageNameW(handle, 0, buffer, &size);
            FILETIME created, exited, kernel, user;
            if (::GetProcessTimes(handle, &created, &exited, &kernel, &user))
                process.started = fromFileTime(created);
            ::CloseHandle(handle);
            if (named && QString::fromWCharArray(buffer, int(size)).compare(image, Qt::CaseInsensitive) != 0)
                continue;
        }
        // A process that cannot be asked for its image (another user's, without the rights) but bears the
        // synchroniser's name is taken for it: a refused start is better than two synchronisers on one log.
        found.append(process);
    }
    ::CloseHandle(snapshot);
    sortOldestFirst(found);
    return found;
}

struct PolicySyncLock::Held {
    HANDLE mutex = nullptr;
};

PolicySyncLock::PolicySyncLock(const AgentPaths& paths)
    : m_name(mutexName(paths)) {}

PolicySyncLock::Result PolicySyncLock::tryTake(QString& error) {
    if (m_held)
        return Result::Taken;
    // The mutex exists while a holder has it open: creating it anew is taking the lock.
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, reinterpret_cast<LPCWSTR>(m_name.utf16()));
    const DWORD status = ::GetLastError();
    if (mutex && status != ERROR_ALREADY_EXISTS) {
        m_held = std::make_unique<Held>();
        m_held->mutex = mutex;
        return Result::Taken;
    }
    if (mutex) {
        ::CloseHandle(mutex);
        return Result::HeldElsewhere;
    }
    if (status == ERROR_ACCESS_DENIED) {
        // Either it exists, made by a holder that does not share it with us (another user, elevated), or we
        // may not create objects in the global namespace: only the first can be opened, or be refused.
        HANDLE existing = ::OpenMutexW(SYNCHRONIZE, FALSE, reinterpret_cast<LPCWSTR>(m_name.utf16()));
        const DWORD openStatus = ::GetLastError();
        if (existing)
            ::CloseHandle(existing);
        if (existing || openStatus == ERROR_ACCESS_DENIED)
            return Result::HeldElsewhere;
    }
    error = QStringLiteral("Can't take the machine-wide Policy Sync lock %1: %2")
                .arg(m_name, systemStatusText(status));
    return Result::Failed;
}

void PolicySyncLock::release() {
    if (!m_held)
        return;
    ::ReleaseMutex(m_held->mutex); // fails harmlessly when released from another thread than the taker's
    ::CloseHandle(m_held->mutex);
    m_held.reset();
}

namespace {

// The system's text for a status or error code, without its closing full stop; empty when it has none.
QString systemText(quint32 code) {
    QString text;
    if ((code & 0xC0000000u) == 0xC0000000u || (code & 0xC0000000u) == 0x80000000u) {
        // A status of the system (an exception, a loader failure): its Windows error says it plainly where
        // there is one, the system library's own text otherwise.
        using ToDosError = ULONG(WINAPI*)(LONG);
        HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        auto toDosError = ntdll ? reinterpret_cast<ToDosError>(reinterpret_cast<void*>(
                                      ::GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                                : nullptr;
        const ULONG dosError = toDosError ? toDosError(LONG(code)) : ERROR_MR_MID_NOT_FOUND;
        if (dosError != ERROR_MR_MID_NOT_FOUND)
            text = formatted(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dosError);
        if (text.isEmpty() && ntdll)
            text = formatted(FORMAT_MESSAGE_FROM_HMODULE, ntdll, code);
    }
    if (text.isEmpty())
        text = formatted(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

} // namespace

QString systemStatusText(quint32 code) {
    const QString text = systemText(code);
    return text.isEmpty() ? hexStatus(code) : hexStatus(code) + QStringLiteral(": ") + text;
}

QString systemExitStatus(int exitCode, bool crashed) {
    const quint32 code = quint32(exitCode);
    if (!crashed && code < 0x80000000u)
        return QString();
    const QString text = systemText(code);
    return QStringLiteral("status ") + hexStatus(code) +
           (text.isEmpty() ? QString() : QStringLiteral(" (") + text + QLatin1Char(')'));
}

QString startFailureReason(const QString& path) {
    const QString program = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    std::wstring commandLine = L"\"" + program.toStdWString() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(reinterpret_cast<LPCWSTR>(program.utf16()), commandLine.data(), nullptr, nullptr,
                         FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        ::TerminateProcess(process.hProcess, 1); // never ran a single instruction of its own
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        return QString();
    }
    const DWORD error = ::GetLastError();
    // A text with a place for the program's name ("Bad EXE format for %1.") gets it.
    const QString text = systemText(error).replace(QLatin1String("%1"), QFileInfo(path).fileName());
    return text.isEmpty() ? QStringLiteral("error ") + hexStatus(error)
                          : text + QStringLiteral(" (error ") + hexStatus(error) + QLatin1Char(')');
}

#else

namespace {

// The target of a link of /proc, without the mark of a file deleted (or replaced) since the process began.
QString linkTarget(const QByteArray& link) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer);
    if (length <= 0)
        return QString();
    QString target = QFile::decodeName(QByteArray(buffer, int(length)));
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    return target;
}

QByteArray readProcFile(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ? file.read(64 * 1024) : QByteArray();
}

qint64 bootTimeSeconds() {
    for (const QByteArray& line : readProcFile("/proc/stat").split('\n')) {
        if (line.startsWith("btime "))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// When the process began: its start in clock ticks after the boot, the 20th field after its name.
QDateTime startOf(const QByteArray& procDir, qint64 bootTime) {
    const QByteArray stat = readProcFile(procDir + "/stat");
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0 || bootTime < 0)
        return QDateTime();
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    bool ok = false;
    const qint64 ticks = fields.value(19).toLongLong(&ok);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (!ok || ticksPerSecond <= 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(bootTime * 1000 + ticks * 1000 / ticksPerSecond);
}

} // namespace

QList<SynchroniserProcess> findSynchronisers(const QString& path) {
    QList<SynchroniserProcess> found;
    const QFileInfo info(path);
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    const QString canonical = info.canonicalFilePath();
    auto isSynchroniser = [&](const QString& candidate) {
        if (candidate.isEmpty())
            return false;
        const QString cleaned = QDir::cleanPath(candidate);
        return cleaned == absolute || (!canonical.isEmpty() && cleaned == canonical);
    };
    const qint64 bootTime = bootTimeSeconds();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QByteArray procDir = "/proc/" + entry.toLatin1();
        const QString executable = linkTarget(procDir + "/exe");
        bool matches = isSynchroniser(executable);
        if (!matches) {
            // The script argument: the first argument after the interpreter's options, taken from the
            // process's folder when relative. A process whose executable cannot be read (another user's) is
            // known by its first word too.
            const QList<QByteArray> arguments = readProcFile(procDir + "/cmdline").split('\0');
            const QString cwd = linkTarget(procDir + "/cwd");
            auto resolved = [&](const QByteArray& argument) {
                const QString text = QFile::decodeName(argument);
                return QFileInfo(text).isAbsolute() || cwd.isEmpty() ? text : cwd + QLatin1Char('/') + text;
            };
            if (executable.isEmpty() && !arguments.isEmpty())
                matches = isSynchroniser(resolved(arguments.first()));
            for (qsizetype i = 1; !matches && i < arguments.size(); ++i) {
                if (arguments.at(i).startsWith('-'))
                    continue;
                matches = !arguments.at(i).isEmpty() && isSynchroniser(resolved(arguments.at(i)));
                break;
            }
        }
        if (matches)
            found.append({pid, startOf(procDir, bootTime)});
    }
    sortOldestFirst(found);
    return found;
}

struct PolicySyncLock::Held {
    explicit Held(const QString& path)
        : file(path) {}
    QLockFile file;
};

PolicySyncLock::PolicySyncLock(const AgentPaths& paths)
    : m_name(QDir(paths.corvaneFolder()).filePath(QStringLiteral("policy-sync.lock"))) {}

PolicySyncLock::Result PolicySyncLock::tryTake(QString& error) {
    if (m_held)
        return Result::Taken;
    if (!QDir().mkpath(QFileInfo(m_name).absolutePath())) {
        error = QStringLiteral("Can't take the machine-wide Policy Sync lock: can't create the folder %1")
                    .arg(QFileInfo(m_name).absolutePath());
        return Result::Failed;
    }
    auto held = std::make_unique<Held>(m_name);
    // Never stale by age: a run may last its full ten minutes. A holder that died is found by its process.
    held->file.setStaleLockTime(0);
    if (held->file.tryLock(0)) {
        m_held = std::move(held);
        return Result::Taken;
    }
    if (held->file.error() == QLockFile::LockFailedError)
        return Result::HeldElsewhere;
    error = QStringLiteral("Can't take the machine-wide Policy Sync lock %1: %2")
                .arg(m_name, held->file.error() == QLockFile::PermissionError
                                 ? QStringLiteral("permission denied")
                                 : QStringLiteral("the lock file can't be written"));
    return Result::Failed;
}

void PolicySyncLock::release() {
    m_held.reset();
}

QString systemStatusText(quint32 code) {
    return hexStatus(code);
}

QString systemExitStatus(int, bool) {
    return QString();
}

QString startFailureReason(const QString&) {
    return QString();
}

#endif

PolicySyncLock::~PolicySyncLock() {
    release();
}

bool PolicySyncLock::isTaken() const {
    return bool(m_held);
}

} // namespace corvane
