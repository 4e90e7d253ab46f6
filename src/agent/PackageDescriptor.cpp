#include "PackageDescriptor.h"

#include "AgentFile.h"

namespace corvane {

namespace {

// A descriptor is a few kilobytes of XML. The bound is far above any real one (a package name of tens of
// megabytes still reads whole) and keeps a device, or a file that never ends, from filling the memory.
constexpr qint64 kMaxDescriptorBytes = 64 * 1024 * 1024;

// One byte is one character, so the search runs on the bytes and only the name becomes text.
constexpr QByteArrayView kOpeningMarker("<Package><Options><Type>");
constexpr QByteArrayView kClosingMarker("</Description><PrimaryFile>");
constexpr QByteArrayView kNameOpen("<Name>");
constexpr QByteArrayView kNameClose("</Name>");

// The `length` bytes from 1-based `start`; empty when `start` lies past the end, nothing when `length` is
// negative.
std::optional<QByteArrayView> slice(QByteArrayView text, qsizetype start, qsizetype length) {
    if (length < 0)
        return std::nullopt;
    if (start > text.size())
        return QByteArrayView();
    return text.sliced(start - 1, std::min(length, text.size() - (start - 1)));
}

// UTF-8 è and é read one byte per character come out as two characters each; only these two are mended.
QString repairAccents(QString text) {
    if (!text.contains(QChar(0xC3)))
        return text;
    text.replace(QStringLiteral("\u00C3\u00A8"), QStringLiteral("\u00E8"));
    text.replace(QStringLiteral("\u00C3\u00A9"), QStringLiteral("\u00E9"));
    return text;
}

} // namespace

QByteArray descriptorContent(QByteArray bytes) {
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    return bytes;
}

std::optional<QString> taskNameFromContent(QByteArrayView content) {
    const qsizetype opening = content.indexOf(kOpeningMarker) + 1;
    const qsizetype closing = content.indexOf(kClosingMarker) + 1;
    if (opening == 0 || closing == 0)
        return kUnknownLaunchpadAnswer;
    const std::optional<QByteArrayView> segment = slice(content, opening, closing - opening);
    if (!segment)
        return std::nullopt;
    const qsizetype nameOpen = segment->indexOf(kNameOpen) + 1;
    const qsizetype nameClose = segment->indexOf(kNameClose) + 1;
    const qsizetype nameLength = kNameOpen.size();
    const std::optional<QByteArrayView> name =
        slice(*segment, nameOpen + nameLength, nameClose - nameOpen - nameLength);
    if (!name)
        return std::nullopt;
    return repairAccents(QString::fromLatin1(*name));
}

std::optional<QString> getTaskName(const QString& xmlPath) {
    // Opened straight away: asking first whether the file exists would cost every row a second look.
    QByteArray bytes;
    QString error;
    switch (readAgentFile(xmlPath, kMaxDescriptorBytes, bytes, error)) {
    case AgentFileStatus::Read:
        return taskNameFromContent(descriptorContent(std::move(bytes)));
    case AgentFileStatus::Missing:
        return xmlPath.contains(QLatin1String("Database@Error")) ? kDatabaseMissingAnswer
                                                                 : kUnknownPushAnswer;
    case AgentFileStatus::Unreadable:
        break;
    }
    return std::nullopt; // there, but not readable
}

} // namespace corvane
