#include "sync/PolicySyncRun.h"

#include <QList>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace corvane {

void prepareSynchroniser(QProcess& process, const QString& path) {
    process.setProgram(path);
    process.setArguments({});
    // A synchroniser that inherited Corvane's output would hold a pipe open after Corvane ends
    // (`corvanectl sync | cat` would never finish) and could write into what Corvane prints.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setReadChannel(QProcess::StandardError);
#ifdef Q_OS_WIN
    // Minimised, and the technician keeps the focus.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = SW_SHOWMINNOACTIVE;
    });
#else
    process.setChildProcessModifier([] {
        // Its own session: a Ctrl+C or a closed terminal meant for Corvane does not stop the agent's
        // synchroniser. And once Corvane is gone, a write to its error pipe fails instead of killing it.
        ::setsid();
        ::signal(SIGPIPE, SIG_IGN);
    });
#endif
}

namespace {

// Released synchronisers, kept until they exit: deleting a QProcess kills its process.
QList<QProcess*>& releasedSynchronisers() {
    static auto* processes = new QList<QProcess*>;
    return *processes;
}

} // namespace

void releaseSynchroniser(QProcess* process) {
    QObject::disconnect(process, nullptr, nullptr, nullptr);
    // Nobody reads its error output any more: a pipe left open would fill and stall it.
    process->closeReadChannel(QProcess::StandardError);
    if (process->state() == QProcess::NotRunning) {
        delete process;
        return;
    }
    releasedSynchronisers().append(process);
    QObject::connect(process, &QProcess::finished, process, [process] {
        releasedSynchronisers().removeOne(process);
        process->deleteLater();
    });
}

} // namespace corvane
