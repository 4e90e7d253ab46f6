#include "InstallerExitCodes.h"

#include <QHash>
#include <QRegularExpression>

namespace corvane {

namespace {

// Codes that report success: the installation completed, perhaps waiting for a restart.
bool isSuccess(int code) {
    return code == 0 || code == 1641 || code == 3010;
}

const QHash<int, QString>& meanings() {
    static const QHash<int, QString> table = {
        {0, QStringLiteral("ERROR_SUCCESS: the action completed successfully.")},
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

} // namespace

QString installerExitCodeMeaning(int code) {
    return meanings().value(code);
}

QList<InstallerExitCode> installerExitCodesIn(const QString& line) {
    static const QRegularExpression pattern(
        QStringLiteral("\\b(?:(?:return|exit|error|result)\\s+code|returned|exit\\s+status)\\s*[:=]?\\s*(-?"
                       "\\d{1,10})\\b"),
        QRegularExpression::CaseInsensitiveOption);
    QList<InstallerExitCode> codes;
    auto matches = pattern.globalMatch(line);
    while (matches.hasNext()) {
        bool ok = false;
        const int code = matches.next().captured(1).toInt(&ok);
        if (ok)
            codes.append({code, installerExitCodeMeaning(code), !isSuccess(code)});
    }
    return codes;
}

} // namespace corvane
