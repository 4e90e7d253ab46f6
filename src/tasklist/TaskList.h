#pragma once

#include "agent/PackageDescriptor.h"
#include "tasklist/TaskRow.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corvane {

class TaskTable;

// The list's seven columns: caption and share of the list's width.
struct TaskColumn {
    QString caption;
    double widthFraction;
};
extern const QList<TaskColumn> kTaskColumns;

// A whole list keeps every package name up to kCellTextLimit characters, and their longer parts up to this
// many characters together, so that the names of a list stay within 64 MB whatever its descriptors hold.
constexpr qsizetype kListNameChars = 16 * 1024 * 1024;

// One row per table entry, in table order; each package name is read from its descriptor below
// `descriptorFolder` (which ends with a separator), and cut as kMaxNameChars and kListNameChars say.
// `built`, when given, sees each row as soon as it is built: a reader of another machine's share counts
// them as progress.
QList<TaskRow> buildTaskRows(const TaskTable& table, const QString& descriptorFolder,
                             const std::function<void(const TaskRow&)>& built = {});

// What the first status panel says of the rows whose descriptor could not be read (how many, and why the
// first could not) and of those whose package name was cut; empty when every descriptor was read whole.
QString descriptorNotice(const QList<TaskRow>& rows);

// One row from a task id and its record; `descriptorAnswer` is the descriptor's answer as
// descriptorTaskNames gives it (nothing when it failed).
TaskRow buildTaskRow(const QString& taskId, const QString& record,
                     const std::optional<QString>& descriptorAnswer);

// The row the list scrolls to after a run: when a row is green, the first row with a column text beginning
// with "Active"; otherwise -1.
int scrollTargetRow(const QList<TaskRow>& rows);

// The names the command line prints for a row's colour, kind letter, icon and tag.
QString colourName(TaskRow::Colour colour);
QString kindLetter(const TaskRow& row);
QString iconName(TaskRow::Icon icon);
QString tagName(TaskRow::Tag tag);

} // namespace corvane
