#pragma once

#include "actions/TaskActions.h"

namespace corvane {

// What Undo would do to each journal entry now, read from the agent database without changing anything:
// every row put back as the entry found it, or why the entry cannot be undone.
ActionReport planUndo(const QList<qint64>& entries, const QString& dbPath, const QString& journalPath,
                      Feedback* status = nullptr);

// Undoes each entry in one transaction of the agent's database, under the actions' rules: only when every
// row still holds what the entry left (a deleted row still absent), exactly those rows, nothing beyond the
// plan, journaled first. An entry already undone, an Undo entry or one never applied is refused.
ActionReport runUndo(const QList<qint64>& entries, const QString& dbPath, const QString& journalPath,
                     Feedback& status, const TaskDone& done = {});

// Undoes the entries a preview showed being undone, and only while they would be undone as it showed.
ActionReport applyUndoPreview(const ActionReport& preview, const QString& dbPath, const QString& journalPath,
                              Feedback& status, const TaskDone& done = {});

} // namespace corvane
