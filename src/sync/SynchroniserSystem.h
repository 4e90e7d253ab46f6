#pragma once

#include "agent/AgentPaths.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>

namespace corvane {

// A process of the agent's synchroniser running on this machine, whoever started it.
struct SynchroniserProcess {
    qint64 pid = 0;
    QDateTime started; // invalid where the system does not tell
};

// Every process on this machine that runs the synchroniser at `path`, the oldest first. On Windows: those
// whose image is that file (full path, case-insensitive); elsewhere: those whose executable, or whose script
// argument (`sh path`), is that file.
QList<SynchroniserProcess> findSynchronisers(const QString& path);

// "process 1234, started 10:42:13"
QString describeSynchroniser(const SynchroniserProcess& process);

// One Policy Sync at a time on the machine, across Corvane's windows and `corvanectl` processes of every
// user: a named mutex in the global namespace on Windows, elsewhere a lock file in Corvane's own folder. A
// holder that dies releases it.
class PolicySyncLock {
public:
    enum class Result { Taken, HeldElsewhere, Failed };

    explicit PolicySyncLock(const AgentPaths& paths);
    ~PolicySyncLock();
    PolicySyncLock(const PolicySyncLock&) = delete;
    PolicySyncLock& operator=(const PolicySyncLock&) = delete;

    // Failed sets `error`, a message for the technician.
    Result tryTake(QString& error);
    void release();
    bool isTaken() const;

private:
    struct Held;
    QString m_name; // the mutex name on Windows, the lock file's path elsewhere
    std::unique_ptr<Held> m_held;
};

// Windows: a status or error code in hexadecimal with the system's text for it ("0x00000005: Access is
// denied"). Elsewhere the code in hexadecimal.
QString systemStatusText(quint32 code);

// Windows: how a process ended that the system ended with a status of its own (a crash, a program that
// could not load), "status 0xC0000135 (The specified module could not be found)"; empty for an exit status
// the program chose, and elsewhere.
QString systemExitStatus(int exitCode, bool crashed);

// Windows: why the system refuses to start the program at `path`, found by asking it again (suspended, and
// ended at once should it start after all): "Bad EXE format for policy.sync.exe (error 0x000000C1)"; empty
// when it can say no more, and elsewhere.
QString startFailureReason(const QString& path);

} // namespace corvane
