#include "agent/InstallerExitCodes.h"

#include <QHash>
#include <QRegularExpression>

#include <limits>
#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace corvane {

namespace {

// Codes that report success: the installation completed, perhaps waiting for a restart.
bool isSuccess(int code) {
    return code == 0 || code == 1641 || code == 3010;
}

const QHash<int, QString>& meanings() {
    static const QHash<int, QString> table = {
        {0, QStringLiteral("ERROR_SUCCESS: the action completed successfully.")},
        {5, QStringLiteral("ERROR_ACCESS_DENIED: access is denied.")},
        {int(0x80004005u), QStringLiteral("E_FAIL: unspecified error.")},
        {1602, QStringLiteral("ERROR_INSTALL_USEREXIT: the user cancelled the installation.")},
        {1603, QStringLiteral("ERROR_INSTALL_FAILURE: a fatal error occurred during installation.")},
        {1605, QStringLiteral("ERROR_UNKNOWN_PRODUCT: this action is only valid for products that are "
                              "currently installed.")},
        {1618, QStringLiteral("ERROR_INSTALL_ALREADY_RUNNING: another installation is already in progress. "
                              "Complete that installation before proceeding with this install.")},
        {1619, QStringLiteral("ERROR_INSTALL_PACKAGE_OPEN_FAILED: this installation package could not be "
                              "opened. Verify that the package exists and is accessible.")},
        {1620, QStringLiteral("ERROR_INSTALL_PACKAGE_INVALID: this installation package could not be opened. "
                              "Verify that it is a valid Windows Installer package.")},
        {1638, QStringLiteral("ERROR_PRODUCT_VERSION: another version of this product is already "
                              "installed. Installation of this version cannot continue.")},
        {1641, QStringLiteral("ERROR_SUCCESS_REBOOT_INITIATED: the installer has started a restart. "
                              "This indicates success.")},
        {3010, QStringLiteral("ERROR_SUCCESS_REBOOT_REQUIRED: a restart is required to complete the "
                              "install. This indicates success.")},
    };
    return table;
}

// The system's own text for a code, where the system has one.
QString systemText(quint32 code) {
#ifdef Q_OS_WIN
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        DWORD(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const QString text = length ? QString::fromWCharArray(buffer, int(length)).simplified() : QString();
    ::LocalFree(buffer);
    return text;
#else
    Q_UNUSED(code)
    return QString();
#endif
}

// "1603", "-2147024891", "2147942405" or "0x80070005", as the 32-bit value; nothing for a number that does
// not fit 32 bits.
std::optional<int> parseCode(const QString& written) {
    bool ok = false;
    if (written.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const quint32 value = written.mid(2).toUInt(&ok, 16);
        return ok ? std::optional<int>(int(value)) : std::nullopt;
    }
    const qint64 value = written.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return int(quint32(value));
}

} // namespace

QString installerExitCodeMeaning(int code) {
    const QString known = meanings().value(code);
    if (!known.isEmpty())
        return known;
    const auto bits = quint32(code);
    // FACILITY_WIN32 HRESULTs carry a Windows code in their low word: 0x80070643 is 1603.
    if ((bits & 0xFFFF0000u) == 0x80070000u) {
        const QString wrapped = meanings().value(int(bits & 0xFFFFu));
        if (!wrapped.isEmpty())
            return wrapped;
    }
    return systemText(bits);
}

QList<InstallerExitCode> installerExitCodesIn(const QString& line) {
    static const QRegularExpression pattern(
        QStringLiteral("\\b(?:(?:return|exit|error|result)\\s+code|returned|exit\\s+status)\\s*[:=]?\\s*(0x["
                       "0-9a-f]{1,8}|-?"
                       "\\d{1,10})\\b"),
        QRegularExpression::CaseInsensitiveOption);
    QList<InstallerExitCode> codes;
    auto matches = pattern.globalMatch(line);
    while (matches.hasNext()) {
        const QString written = matches.next().captured(1);
        if (const std::optional<int> code = parseCode(written))
            codes.append({*code, written, installerExitCodeMeaning(*code), !isSuccess(*code)});
    }
    return codes;
}

} // namespace corvane
