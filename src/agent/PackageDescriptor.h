#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <QStringList>

#include <functional>
#include <optional>

namespace corvane {

inline const QString kUnknownPushAnswer = QStringLiteral("Unknow;P");
inline const QString kUnknownLaunchpadAnswer = QStringLiteral("Unknow;L");
inline const QString kDatabaseMissingAnswer = QStringLiteral("Can't find SQLite Database");

// A package name is kept up to this many characters; a longer one is cut, saying how much was left out.
// Eleven descriptors naming one package of 60 MB took gigabytes in every front end when each row kept it
// whole.
constexpr qsizetype kMaxNameChars = 64 * 1024;

// What a descriptor's name became when it was cut.
inline QString cutNameText(const QString& kept, qsizetype leftOut) {
    return kept + QStringLiteral(" [... %1 more characters]").arg(leftOut);
}

// The package names that the descriptors of `operationFiles` in `descriptorFolder` (which ends with a
// separator) carry, cut out between fixed tags (a descriptor is not parsed as XML). For each file, in order,
// `use` gets the answer: the name; "Unknow;P" when there is no descriptor; "Can't find SQLite Database" for
// the missing-database entry's; "Unknow;L" when a marker is missing; or nothing, with the reason in `error`,
// when the file cannot be read or its tags are placed so that no name can be cut out of them. A name
// longer than `maxNameChars(index)` (asked just before its answer is handed over) is cut (see cutNameText),
// and `nameCut` set. A descriptor that starts with a UTF-16 byte order mark is read as the text it
// declares. The operation file names come from the agent's database or scheduled-task file: one that is
// not a plain file name could lead out of the folder, so its descriptor is not read and there is no answer.
// The descriptors are read one after the other off the calling thread, which waits; `use` is called for one
// at a time, and not after this returns.
using DescriptorAnswerUse =
    std::function<void(int index, const std::optional<QString>& answer, bool nameCut, const QString& error)>;
void descriptorTaskNames(const QString& descriptorFolder, const QStringList& operationFiles,
                         const std::function<qsizetype(int index)>& maxNameChars,
                         const DescriptorAnswerUse& use);

// A name of a file directly inside a folder: no folder separator of either kind, no drive or stream
// (':'), no NUL, and not made of dots alone ("." and ".." are folders). On Windows also no trailing dot or
// space, which Windows drops, so that the name would open another task's file.
bool isPlainFileName(const QString& name);

// The content of a descriptor as the name is searched in: one byte per character, line breaks dropped.
QByteArray descriptorContent(QByteArray bytes);

// The name in a descriptor's content, decoded as UTF-8 where valid, else as Windows-1252; see
// descriptorTaskNames.
std::optional<QString> taskNameFromContent(QByteArrayView content, qsizetype maxNameChars = kMaxNameChars,
                                           bool* nameCut = nullptr);

} // namespace corvane
