#pragma once

#include <QString>

class QIODevice;

namespace corvane {

class TaskTable;

// Merges the agent's scheduled-task file into `table`: a task the table holds gets the file's state and
// time as its last two fields, in place; a task only the file knows is appended. A file that is missing
// or not well-formed merges nothing. Returns false, with the reason in `error`, when the file exists but
// could not be read or parsed.
bool mergeScheduledTasks(TaskTable& table, const QString& xmlPath, QString& error);
// How a document is read: Any reads a file in the plain form the agent writes without the XML reader, and
// any other with it; XmlReader reads every file with it (to compare the two).
enum class ScheduledTasksReading { Any, XmlReader };

// The same from an open document.
bool mergeScheduledTasks(TaskTable& table, QIODevice& document, QString& error,
                         ScheduledTasksReading reading = ScheduledTasksReading::Any);

} // namespace corvane
