#include "agent/PackageDescriptor.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

#include <QDir>
#include <QStringDecoder>

#include <algorithm>

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

// Windows-1252 where it differs from Latin-1: the characters of bytes 0x80 to 0x9F. The five bytes it
// leaves undefined keep their own code, as Windows itself maps them.
constexpr char16_t kWindows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The agent writes descriptors in UTF-8, older ones in the Windows code page. A name that is valid UTF-8
// is taken as such (so è and é, and every other letter, come out right); anything else is Windows-1252,
// which gives every byte a character. At most `maxChars` characters are kept, `leftOut` counting the rest;
// the name is decoded a step at a time, so one of megabytes costs a step of memory beyond its bytes.
QString decodedName(QByteArrayView bytes, qsizetype maxChars, qsizetype& leftOut) {
    // A name in plain ASCII (nearly every one) reads the same in either.
    if (bytes.size() <= maxChars &&
        std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; })) {
        leftOut = 0;
        return QString::fromLatin1(bytes);
    }
    constexpr qsizetype kStep = 1024 * 1024;
    QString kept;
    qsizetype total = 0;
    bool valid = true;
    for (qsizetype at = 0; at < bytes.size() && valid;) {
        qsizetype end = std::min(at + kStep, bytes.size());
        // A step ends before a character's continuation bytes, so no character is split between steps.
        while (end < bytes.size() && end > at && (uchar(bytes.at(end)) & 0xC0) == 0x80)
            --end;
        if (end == at)
            end = std::min(at + kStep, bytes.size());
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString part = utf8.decode(bytes.sliced(at, end - at));
        valid = !utf8.hasError();
        total += part.size();
        if (kept.size() < maxChars)
            kept += QStringView(part).left(maxChars - kept.size());
        at = end;
    }
    if (!valid) {
        total = bytes.size();
        kept.resize(std::min(total, maxChars));
        for (qsizetype i = 0; i < kept.size(); ++i) {
            const auto byte = uchar(bytes.at(i));
            kept[i] =
                byte >= 0x80 && byte < 0xA0 ? QChar(kWindows1252High[byte - 0x80]) : QChar(char16_t(byte));
        }
    }
    leftOut = total - kept.size();
    return kept;
}

// A descriptor saved as UTF-16 (it starts with a byte order mark) as the UTF-8 the name is searched in.
QByteArray asUtf8(QByteArray bytes) {
    const bool littleEndian = bytes.startsWith("\xFF\xFE");
    if (!littleEndian && !bytes.startsWith("\xFE\xFF"))
        return bytes;
    QStringDecoder utf16(littleEndian ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    const QString text = utf16.decode(QByteArrayView(bytes).sliced(2));
    bytes.clear();
    return text.toUtf8();
}

} // namespace

QByteArray descriptorContent(QByteArray bytes) {
    // The text between line breaks is moved down a run at a time: a descriptor may be tens of megabytes.
    char* const data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype kept = 0;
    for (qsizetype at = 0; at < size;) {
        const qsizetype lineEnd = lineEndIn(QByteArrayView(data, size), at);
        const qsizetype runEnd = lineEnd < 0 ? size : lineEnd;
        if (kept != at)
            std::memmove(data + kept, data + at, size_t(runEnd - at));
        kept += runEnd - at;
        at = runEnd + 1;
    }
    bytes.truncate(kept);
    return bytes;
}

std::optional<QString> taskNameFromContent(QByteArrayView content, qsizetype maxNameChars, bool* nameCut) {
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
    qsizetype leftOut = 0;
    const QString kept = decodedName(*name, maxNameChars, leftOut);
    if (nameCut)
        *nameCut = leftOut > 0;
    return leftOut > 0 ? cutNameText(kept, leftOut) : kept;
}

namespace {
// The answer for the descriptor `file` in `folder` as it was read; see descriptorTaskNames.
std::optional<QString> taskNameFromFile(const QString& folder, const QString& file, AgentFileStatus status,
                                        QByteArray& bytes, qsizetype maxNameChars, bool& nameCut,
                                        QString& error) {
    switch (status) {
    case AgentFileStatus::Read: {
        std::optional<QString> name =
            taskNameFromContent(descriptorContent(asUtf8(std::move(bytes))), maxNameChars, &nameCut);
        if (!name)
            error = QStringLiteral("Cannot read %1: its name tags are out of order")
                        .arg(QDir::toNativeSeparators(folder + file));
        return name;
    }
    case AgentFileStatus::Missing:
        return (folder + file).contains(QLatin1String("Database@Error")) ? kDatabaseMissingAnswer
                                                                         : kUnknownPushAnswer;
    case AgentFileStatus::Unreadable:
        break;
    }
    return std::nullopt; // there, but not readable
}
} // namespace

void descriptorTaskNames(const QString& descriptorFolder, const QStringList& operationFiles,
                         const std::function<qsizetype(int index)>& maxNameChars,
                         const DescriptorAnswerUse& use) {
    readAgentFiles(
        int(operationFiles.size()),
        [&](int index) {
            const QString& file = operationFiles.at(index);
            return isPlainFileName(file) ? descriptorFolder + file : QString();
        },
        kMaxDescriptorBytes, kDescriptorDeadlineMs,
        [&](int index, AgentFileStatus status, QByteArray& bytes, const QString& readError) {
            const QString& file = operationFiles.at(index);
            QString error = readError;
            bool nameCut = false;
            std::optional<QString> answer;
            if (isPlainFileName(file))
                answer = taskNameFromFile(descriptorFolder, file, status, bytes, maxNameChars(index), nameCut,
                                          error);
            else
                error = QStringLiteral("Not reading the descriptor of '%1': it is not a plain file name")
                            .arg(file);
            use(index, answer, nameCut, error);
        });
}

bool isPlainFileName(const QString& name) {
    // Asked twice for each of thousands of descriptors at every refresh: a walk over the characters.
    bool dotsOnly = !name.isEmpty();
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() == 0)
            return false;
        dotsOnly = dotsOnly && c == QLatin1Char('.');
    }
    if (dotsOnly)
        return false;
#ifdef Q_OS_WIN
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return false;
#endif
    return true;
}

} // namespace corvane
