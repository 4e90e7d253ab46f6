#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace corvane {

inline const QString kUnknownPushAnswer = QStringLiteral("Unknow;P");
inline const QString kUnknownLaunchpadAnswer = QStringLiteral("Unknow;L");
inline const QString kDatabaseMissingAnswer = QStringLiteral("Can't find SQLite Database");

// The package name that a descriptor carries, cut out between fixed tags (the descriptor is not parsed as
// XML). Answers "Unknow;P" when there is no file, "Can't find SQLite Database" for the missing-database
// entry's path, "Unknow;L" when a marker is missing. Returns nothing, with the reason in `errText`, when
// the file cannot be read or its tags are placed so that no name can be cut out of them.
std::optional<QString> getTaskName(const QString& xmlPath, QString& errText);

// getTaskName for the descriptor of `operationFile` in `descriptorFolder` (which ends with a separator).
// The name comes from the agent's database or scheduled-task file: one that is not a plain file name could
// lead out of the folder, so its descriptor is not read and there is no answer.
std::optional<QString> descriptorTaskName(const QString& descriptorFolder, const QString& operationFile,
                                          QString& errText);

// A name of a file directly inside a folder: no folder separator of either kind, no drive or stream
// (':'), no NUL, and not made of dots alone ("." and ".." are folders).
bool isPlainFileName(const QString& name);

// The content of a descriptor as the name is searched in: one byte per character, line breaks dropped.
QByteArray descriptorContent(QByteArray bytes);

// The name in a descriptor's content, decoded as UTF-8 where valid, else as Windows-1252; see getTaskName.
std::optional<QString> taskNameFromContent(QByteArrayView content);

} // namespace corvane
