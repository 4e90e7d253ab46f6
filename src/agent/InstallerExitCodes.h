#pragma once

#include <QList>
#include <QString>

namespace corvane {

// Exit codes of the Windows Installer that the invoker writes into its log ("return code 1603").
struct InstallerExitCode {
    int code = 0;
    QString meaning; // the installer's documented meaning; empty for a code it does not document here
    bool failed = false;
};

// The codes a log line reports, in the order they appear.
QList<InstallerExitCode> installerExitCodesIn(const QString& line);
// The documented meaning of `code`, or an empty text.
QString installerExitCodeMeaning(int code);

} // namespace corvane
