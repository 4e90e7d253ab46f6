#include "PackageDescriptor.h"

#include <QFile>
#include <QFileInfo>

namespace corvane {

namespace {

const QString kOpeningMarker = QStringLiteral("<Package><Options><Type>");
const QString kClosingMarker = QStringLiteral("</Description><PrimaryFile>");
const QString kNameOpen = QStringLiteral("<Name>");
const QString kNameClose = QStringLiteral("</Name>");

// The text of `length` characters from 1-based `start`; empty when `start` lies past the end, nothing when
// `length` is negative.
std::optional<QString> slice(const QString& text, qsizetype start, qsizetype length) {
    if (length < 0)
        return std::nullopt;
    if (start > text.size())
        return QString();
    return text.mid(start - 1, length);
}

// UTF-8 è and é read one byte per character come out as two characters each; only these two are mended.
QString repairAccents(QString text) {
    text.replace(QStringLiteral("\u00C3\u00A8"), QStringLiteral("\u00E8"));
    text.replace(QStringLiteral("\u00C3\u00A9"), QStringLiteral("\u00E9"));
    return text;
}

} // namespace

QString descriptorContent(const QByteArray& bytes) {
    QString content = QString::fromLatin1(bytes);
    content.remove(QLatin1Char('\r'));
    content.remove(QLatin1Char('\n'));
    return content;
}

std::optional<QString> taskNameFromContent(const QString& content) {
    const qsizetype opening = content.indexOf(kOpeningMarker) + 1;
    const qsizetype closing = content.indexOf(kClosingMarker) + 1;
    if (opening == 0 || closing == 0)
        return kUnknownLaunchpadAnswer;
    const std::optional<QString> segment = slice(content, opening, closing - opening);
    if (!segment)
        return std::nullopt;
    const qsizetype nameOpen = segment->indexOf(kNameOpen) + 1;
    const qsizetype nameClose = segment->indexOf(kNameClose) + 1;
    const qsizetype nameLength = kNameOpen.size();
    const std::optional<QString> name =
        slice(*segment, nameOpen + nameLength, nameClose - nameOpen - nameLength);
    if (!name)
        return std::nullopt;
    return repairAccents(*name);
}

std::optional<QString> getTaskName(const QString& xmlPath) {
    if (!QFileInfo(xmlPath).isFile())
        return xmlPath.contains(QLatin1String("Database@Error")) ? kDatabaseMissingAnswer
                                                                 : kUnknownPushAnswer;
    QFile file(xmlPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return taskNameFromContent(descriptorContent(bytes));
}

} // namespace corvane
