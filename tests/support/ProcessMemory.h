#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#else
#include <QFile>
#endif

namespace corvane::test {

// Memory is not measured under the sanitizers: the address sanitizer keeps freed memory resident on purpose,
// the thread sanitizer keeps a shadow of every byte.
#ifdef CORVANE_SANITIZED
constexpr qint64 kMemoryLimitScale = 100;
#else
constexpr qint64 kMemoryLimitScale = 1;
#endif

// The peak resident memory of this process so far, in MB (0 where it cannot be read).
inline qint64 peakMemoryMb() {
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return qint64(counters.PeakWorkingSetSize / (1024 * 1024));
#else
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() / 1024;
    }
    return 0;
#endif
}

} // namespace corvane::test
