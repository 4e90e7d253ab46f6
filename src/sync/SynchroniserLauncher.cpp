#include "PolicySyncRun.h"

#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace corvane {

bool startSynchroniser(const QString& path, QString& error) {
    if (!QFileInfo(path).isFile()) {
        error = QStringLiteral("Can't find the policy synchroniser: ") + path;
        return false;
    }
    QProcess process;
    process.setProgram(path);
#ifdef Q_OS_WIN
    // Minimised, and the technician keeps the focus.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = SW_SHOWMINNOACTIVE;
    });
#endif
    if (!process.startDetached()) {
        error = QStringLiteral("Can't start the policy synchroniser %1: %2").arg(path, process.errorString());
        return false;
    }
    return true;
}

} // namespace corvane
