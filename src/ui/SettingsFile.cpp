#include "ui/SettingsFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace corvane {

QString userSettingsFile() {
#ifdef Q_OS_WIN
    return QString();
#else
    // Where QSettings keeps the per-user settings of organisation "Corvane", application "Corvane".
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Corvane/Corvane.conf");
#endif
}

QString setAsideUnusableSettings(const QString& path) {
    if (path.isEmpty())
        return QString();
    // Not followed: a link is judged by what it leads to, and lstat-like answers would miss a FIFO behind it.
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return QString();
    QString why;
    if (!info.isFile())
        why = QStringLiteral("it is not a regular file");
    else if (info.size() >= kMaxSettingsBytes)
        why = QStringLiteral("it holds %1 bytes, more than settings ever need").arg(info.size());
    else
        return QString();
    const QString native = QDir::toNativeSeparators(path);
    const QString stamped = path + QStringLiteral(".unusable-") +
                            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = stamped;
    for (int i = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++i)
        aside = stamped + QLatin1Char('-') + QString::number(i);
    if (!QFile::rename(path, aside))
        return QStringLiteral("Corvane's settings file %1 is not used (%2) and could not be moved aside; the "
                              "window's arrangement will not be kept.")
            .arg(native, why);
    return QStringLiteral("Corvane's settings file %1 could not be used (%2): it was renamed to %3, and the "
                          "window starts with its default arrangement.")
        .arg(native, why, QDir::toNativeSeparators(aside));
}

} // namespace corvane
