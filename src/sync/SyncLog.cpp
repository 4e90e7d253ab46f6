#include "SyncLog.h"

#include "TextLines.h"

#include <QFile>

namespace corvane {

namespace {
bool isStamped(QByteArrayView line) {
    return line.contains(':');
}
} // namespace

QString syncMarkerLine(const QByteArray& content) {
    QByteArrayView marker;
    forEachLine(content, [&](QByteArrayView line) {
        if (isStamped(line))
            marker = line;
    });
    return QString::fromLatin1(marker);
}

SyncPass readSyncPass(const QByteArray& content, const QString& markerLine) {
    SyncPass pass;
    bool pastMarker = false;
    forEachLine(content, [&](QByteArrayView bytes) {
        if (!isStamped(bytes))
            return;
        const QString line = QString::fromLatin1(bytes);
        pass.lastStamped = line;
        if (line == markerLine)
            pastMarker = true;
        if (!pastMarker)
            return;
        if (line.contains(QLatin1String("Download information for")))
            ++pass.policyCount;
        if (line.contains(QLatin1String("The remote operation file")) &&
            line.contains(QLatin1String("was downloaded")))
            ++pass.xmlCount;
        if (line != markerLine)
            pass.shownLines.append(line);
    });
    return pass;
}

bool syncEnded(const QString& currentLine, const QString& markerLine) {
    return currentLine != markerLine && currentLine.contains(QLatin1String("[STOP]"));
}

QString syncSummary(int policyCount, int xmlCount) {
    return QStringLiteral("Synchronized: %1 (%2 xml downloaded)").arg(policyCount).arg(xmlCount);
}

QByteArray readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace corvane
