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
// entry's path, "Unknow;L" when a marker is missing. Returns nothing when the file cannot be read or its
// tags are placed so that no name can be cut out of them.
std::optional<QString> getTaskName(const QString& xmlPath);

// The content of a descriptor as the name is searched in: one byte per character, line breaks dropped.
QByteArray descriptorContent(QByteArray bytes);

// The name in a descriptor's content, with the two accent repairs; see getTaskName.
std::optional<QString> taskNameFromContent(QByteArrayView content);

} // namespace corvane
