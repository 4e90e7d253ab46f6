#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace corvane {

// How opening or reading one of the agent's files ended.
enum class AgentFileStatus {
    Read,       // opened (and read, where the whole content was asked for)
    Missing,    // no file at the path; a folder counts as no file
    Unreadable, // there, but not a regular file, larger than allowed, or failing; `errText` says why
};

// Opens the agent's file at `path` for reading when it is a regular file, and never waits to do so: a FIFO,
// a device or a socket is refused without being read, since a read from one may block forever or never end.
// The agent may go on writing, renaming or deleting the file while it is open.
AgentFileStatus openAgentFile(QFile& file, const QString& path, QString& errText);

// Reads the whole of the agent's regular file at `path` into `content`, refusing one that holds more than
// `maxBytes`; memory never exceeds the bound, even for a file that grows while it is read.
AgentFileStatus readAgentFile(const QString& path, qint64 maxBytes, QByteArray& content, QString& errText);

} // namespace corvane
