#include "ui/ExportTarget.h"

#include <QDir>
#include <QStandardPaths>

namespace corvane {

QString defaultExportPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return QDir(folder).filePath(QStringLiteral("tasks.csv"));
}

QString exportedText(int rows, const QString& path) {
    return QStringLiteral("%1 %2 saved to %3")
        .arg(rows)
        .arg(rows == 1 ? QStringLiteral("row") : QStringLiteral("rows"), QDir::toNativeSeparators(path));
}

} // namespace corvane
