#pragma once

#include <QList>
#include <QString>

namespace corvane {

// Exit codes of the Windows Installer that the invoker writes into its log ("return code 1603").
struct InstallerExitCode {
    int code = 0;    // a hexadecimal or large code as the 32-bit signed value Windows gives it
    QString written; // as the log writes it: "1603", "0x80070005", "-2147024891"
    QString meaning; // the installer's documented meaning; empty for a code it does not document here
    bool failed = false;
};

// The codes a log line reports, in the order they appear.
QList<InstallerExitCode> installerExitCodesIn(const QString& line);
// The documented meaning of `code`, or an empty text. An HRESULT that wraps a Windows code (0x8007....) has
// that code's meaning; on Windows a code the table lacks has the system's text for it.
QString installerExitCodeMeaning(int code);

} // namespace corvane
