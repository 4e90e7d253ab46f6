#include "agent/Workstation.h"

#include <algorithm>

namespace corvane {

namespace {
constexpr int kMaxNameLength = 253; // a fully qualified DNS name

bool isNameCharacter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
           c == QLatin1Char('_') || c == QLatin1Char('.');
}
} // namespace

QString administrativeShare(const QString& name) {
    return QStringLiteral("\\\\") + name + QStringLiteral("\\C$");
}

bool workstationByName(const QString& typed, Workstation& workstation, QString& error) {
    QString name = typed.trimmed();
    while (name.startsWith(QLatin1Char('\\')))
        name.remove(0, 1);
    if (name.isEmpty()) {
        error = QStringLiteral("No workstation name was given.");
        return false;
    }
    const bool wellFormed = name.size() <= kMaxNameLength &&
                            std::all_of(name.begin(), name.end(), isNameCharacter) &&
                            !name.startsWith(QLatin1Char('.')) && !name.startsWith(QLatin1Char('-')) &&
                            !name.endsWith(QLatin1Char('.')) && !name.endsWith(QLatin1Char('-')) &&
                            !name.contains(QLatin1String(".."));
    if (!wellFormed) {
        error =
            QStringLiteral("\"%1\" is not a workstation name: use its computer name or DNS name.").arg(typed);
        return false;
    }
    workstation = Workstation{name, administrativeShare(name), true};
    return true;
}

Workstation workstationAtRoot(const QString& root) {
    return Workstation{root, root, false};
}

} // namespace corvane
