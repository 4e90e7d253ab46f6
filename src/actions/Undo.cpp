#include "actions/Undo.h"

#include "actions/Journal.h"
#include "agent/TaskRecord.h"
#include "base/SqliteConnection.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskRow.h"

#include <QDir>

#include <algorithm>

namespace corvane {

namespace {

// One row put back: updated to its earlier values, inserted again, or deleted when the entry inserted it.
struct Restore {
    enum class Kind { Update, Insert, Delete };
    Kind kind = Kind::Update;
    RowChange change;      // the entry's record of the row
    bool newRowid = false; // inserted again under a new rowid: its own was taken since
};

struct UndoStep {
    TaskOutcome outcome;
    QList<Restore> restores;
};

QString quoted(const QString& name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

SqlValue integer(qint64 value) {
    return {SqlValue::Type::Integer, QByteArray::number(value), 0};
}

QString valueText(const QString& column, const SqlValue& value) {
    if (value.type == SqlValue::Type::Null)
        return QStringLiteral("NULL");
    if (column.compare(QLatin1String("state"), Qt::CaseInsensitive) == 0) {
        const QString name = StateNames::name(value.text());
        if (!name.isEmpty())
            return name;
    }
    return value.type == SqlValue::Type::Blob ? QStringLiteral("a BLOB of %1 bytes").arg(value.bytes.size())
                                              : cappedCell(value.text());
}

// The first column of `change` whose value differs from `now`, or -1 when every one is as recorded.
int firstDifference(const RowChange& change, const QList<SqlValue>& recorded, const QStringList& columns,
                    const QList<SqlValue>& now) {
    for (int c = 0; c < change.columns.size(); ++c) {
        const int at = columns.indexOf(change.columns.at(c));
        if (at < 0 || !(now.value(at) == recorded.value(c)))
            return c;
    }
    return -1;
}

// Reads the rows the entry changed as they are now, inside the caller's transaction, and decides.
UndoStep planEntry(SqliteConnection& db, const JournalEntry& entry) {
    UndoStep step;
    step.outcome = {TaskOutcome::Kind::Change, entry.taskId, entry.packageName, {}, {}, {}, {}, false, 0};
    const QString what = QStringLiteral("Can't undo entry %1 (%2 of task %3): ")
                             .arg(entry.id)
                             .arg(entry.action, cappedCell(entry.taskId));
    const auto refuse = [&](const QString& reason) {
        step.outcome.kind = TaskOutcome::Kind::Refused;
        step.outcome.changes.clear();
        step.outcome.reason = what + reason;
        step.restores.clear();
        return step;
    };
    if (entry.action == actionName(TaskAction::Undo))
        return refuse(QStringLiteral("it is an Undo itself"));
    if (entry.status == kUndone)
        return refuse(QStringLiteral("it was undone already"));
    if (entry.status == kNotApplied)
        return refuse(QStringLiteral("its change never reached the agent database"));
    for (auto change = entry.rows.crbegin(); change != entry.rows.crend(); ++change) {
        QStringList columns;
        std::optional<QList<SqlValue>> now;
        QString error;
        if (!Journal::readRow(db, change->table, change->rowid, columns, now, error)) {
            step = refuse(QStringLiteral("the agent database answered: ") + error);
            step.outcome.kind = TaskOutcome::Kind::NotChanged;
            step.outcome.unread = db.lastFailureWasBusy();
            return step;
        }
        const QString row = QStringLiteral("%1 row %2").arg(change->table).arg(change->rowid);
        if (change->after) {
            if (!now)
                return refuse(QStringLiteral("%1 is gone").arg(row));
            const int differs = firstDifference(*change, *change->after, columns, *now);
            if (differs >= 0) {
                const QString column = change->columns.at(differs);
                const int at = columns.indexOf(column);
                const QString value = at < 0 ? QStringLiteral("gone") : valueText(column, now->at(at));
                return refuse(
                    column.compare(QLatin1String("state"), Qt::CaseInsensitive) == 0
                        ? QStringLiteral("%1 of %2 is now %3").arg(change->table, entry.taskId, value)
                        : QStringLiteral("%1 of %2 is now %3").arg(column, row, value));
            }
            if (change->before) {
                QStringList back;
                for (int c = 0; c < change->columns.size(); ++c) {
                    if (!(change->before->value(c) == change->after->value(c)))
                        back << QStringLiteral("%1 %2 -> %3")
                                    .arg(change->columns.at(c),
                                         valueText(change->columns.at(c), change->after->value(c)),
                                         valueText(change->columns.at(c), change->before->value(c)));
                }
                step.outcome.changes << QStringLiteral("%1: %2").arg(row, back.join(QStringLiteral(", ")));
                step.restores << Restore{Restore::Kind::Update, *change, false};
            } else {
                step.outcome.changes << QStringLiteral("%1 deleted").arg(row);
                step.restores << Restore{Restore::Kind::Delete, *change, false};
            }
            continue;
        }
        // Deleted by the entry: inserted again, under its own rowid unless another row has taken it since.
        if (now && firstDifference(*change, *change->before, columns, *now) < 0)
            return refuse(QStringLiteral("%1 is back already").arg(row));
        step.outcome.changes << (now ? QStringLiteral(
                                           "%1 inserted again under a new rowid (%2 was taken since)")
                                           .arg(change->table)
                                           .arg(change->rowid)
                                     : QStringLiteral("%1 inserted again").arg(row));
        step.restores << Restore{Restore::Kind::Insert, *change, bool(now)};
    }
    return step;
}

// The rowid alias of `table` (its INTEGER PRIMARY KEY column) into `alias`, or an empty text.
bool rowidAlias(SqliteConnection& db, const QString& table, QString& alias, QString& error) {
    QList<QList<SqlValue>> info;
    if (!db.query(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table)), {}, info, error))
        return false;
    QStringList keys;
    QString type;
    for (const QList<SqlValue>& column : info) {
        if (column.value(5).bytes.toInt() > 0) {
            keys << column.value(1).text();
            type = column.value(2).text();
        }
    }
    alias = keys.size() == 1 && type.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0
                ? keys.first()
                : QString();
    return true;
}

// Runs one restore and records the row as it was and as it is left, for the Undo's own entry.
bool runRestore(SqliteConnection& db, const Restore& restore, RowChange& record, QString& error) {
    const RowChange& change = restore.change;
    record = {change.table, change.rowid, {}, {}, {}};
    QStringList ignored;
    if (!Journal::readRow(db, change.table, change.rowid, record.columns, record.before, error))
        return false;
    if (restore.kind == Restore::Kind::Delete) {
        if (!db.exec(QStringLiteral("DELETE FROM %1 WHERE rowid = ?1").arg(quoted(change.table)),
                     {integer(change.rowid)}, error))
            return false;
        record.after.reset();
        return true;
    }
    if (restore.kind == Restore::Kind::Update) {
        QStringList set;
        for (int c = 0; c < change.columns.size(); ++c)
            set << QStringLiteral("%1 = ?%2").arg(quoted(change.columns.at(c))).arg(c + 2);
        QList<SqlValue> values{integer(change.rowid)};
        values << *change.before;
        if (!db.exec(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?1")
                         .arg(quoted(change.table), set.join(QStringLiteral(", "))),
                     values, error))
            return false;
        return Journal::readRow(db, change.table, change.rowid, ignored, record.after, error);
    }
    QString alias;
    if (!rowidAlias(db, change.table, alias, error))
        return false;
    QStringList names;
    QStringList placeholders;
    QList<SqlValue> values;
    if (alias.isEmpty() && !restore.newRowid) {
        names << QStringLiteral("rowid");
        values << integer(change.rowid);
    }
    for (int c = 0; c < change.columns.size(); ++c) {
        const bool isAlias = change.columns.at(c) == alias;
        names << quoted(change.columns.at(c));
        values << (isAlias && restore.newRowid ? SqlValue() : change.before->value(c));
    }
    for (int v = 0; v < values.size(); ++v)
        placeholders << QStringLiteral("?%1").arg(v + 1);
    if (!db.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                     .arg(quoted(change.table), names.join(QStringLiteral(", ")),
                          placeholders.join(QStringLiteral(", "))),
                 values, error))
        return false;
    QList<QList<SqlValue>> rowid;
    if (!db.query(QStringLiteral("SELECT last_insert_rowid()"), {}, rowid, error))
        return false;
    record.rowid = rowid.value(0).value(0).bytes.toLongLong();
    record.before.reset();
    return Journal::readRow(db, change.table, record.rowid, record.columns, record.after, error);
}

// Undoes one entry inside the caller's transaction and commits it journaled; the outcome says how it went.
void applyEntry(SqliteConnection& db, UndoStep& step, const JournalEntry& entry, Feedback& status,
                Journal& journal) {
    QString error;
    JournalEntry undo =
        newEntry(actionName(TaskAction::Undo), entry.taskId, entry.operationFile, entry.packageName);
    undo.undoes = entry.id;
    const qint64 before = db.totalChanges();
    const auto fail = [&](const QString& why) {
        step.outcome.kind = TaskOutcome::Kind::NotChanged;
        step.outcome.changes.clear();
        step.outcome.reason = QStringLiteral("Entry %1 (task %2) was not undone%3")
                                  .arg(entry.id)
                                  .arg(cappedCell(entry.taskId), why);
    };
    for (const Restore& restore : step.restores) {
        status.setStatus(QStringLiteral("Updating SQLite : ") + restore.change.table);
        RowChange record;
        const bool ran = runRestore(db, restore, record, error);
        status.setStatus(QString());
        if (!ran)
            return fail(QStringLiteral(", the agent database answered: ") + error);
        undo.rows << record;
    }
    const qint64 changed = db.totalChanges() - before;
    if (changed != step.restores.size())
        return fail(QStringLiteral(": the agent database changed %1 rows where %2 were planned")
                        .arg(changed)
                        .arg(step.restores.size()));
    if (!commitJournaled(db, &journal, undo, error))
        return fail(QStringLiteral(": ") + error);
    step.outcome.journalEntry = undo.id;
}

// Every entry through its own transaction: read and decide inside it, then `act` on the decision.
template <typename Act>
ActionReport walkEntries(const QList<qint64>& ids, const QString& dbPath, const QString& journalPath,
                         bool preview, Feedback* status, Act act) {
    ActionReport report;
    report.action = TaskAction::Undo;
    report.preview = preview;
    report.entries = ids;
    Journal journal;
    QString error;
    if (!journal.open(journalPath, error)) {
        for (qint64 id : ids)
            report.tasks << TaskOutcome{TaskOutcome::Kind::Refused,
                                        QString(),
                                        QString(),
                                        {},
                                        {},
                                        {},
                                        QStringLiteral("Can't undo entry %1: the journal of changes can't be "
                                                       "read: %2")
                                            .arg(id)
                                            .arg(error),
                                        false,
                                        0};
        return report;
    }
    SqliteConnection db(dbPath,
                        preview ? SqliteConnection::Access::ReadOnly : SqliteConnection::Access::ReadWrite);
    if (status)
        db.setWaitNotice([status] { status->setStatus(kWaitingForDatabaseStatus); });
    if (!preview)
        journal.settle(db, error);
    for (int e = 0; e < ids.size(); ++e) {
        UndoStep step;
        JournalEntry entry;
        if (!journal.entry(ids.at(e), entry, error)) {
            step.outcome = {TaskOutcome::Kind::Refused,
                            QString(),
                            QString(),
                            {},
                            {},
                            {},
                            QStringLiteral("Can't undo entry %1: %2").arg(ids.at(e)).arg(error),
                            false,
                            0};
        } else if (!db.exec(preview ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), error)) {
            step.outcome = {
                TaskOutcome::Kind::NotChanged,
                entry.taskId,
                entry.packageName,
                {},
                {},
                {},
                QStringLiteral("Entry %1 (task %2) was not undone, the agent database answered: %3")
                    .arg(entry.id)
                    .arg(cappedCell(entry.taskId), error),
                db.lastFailureWasBusy(),
                0};
        } else {
            step = planEntry(db, entry);
            act(db, step, entry, journal, e);
            QString ignored;
            db.exec(QStringLiteral("ROLLBACK"), ignored); // after a COMMIT there is nothing left to roll back
        }
        report.tasks << step.outcome;
    }
    return report;
}

} // namespace

ActionReport planUndo(const QList<qint64>& entries, const QString& dbPath, const QString& journalPath,
                      Feedback* status) {
    return walkEntries(entries, dbPath, journalPath, true, status,
                       [](SqliteConnection&, UndoStep&, const JournalEntry&, Journal&, int) {});
}

ActionReport runUndo(const QList<qint64>& entries, const QString& dbPath, const QString& journalPath,
                     Feedback& status, const TaskDone& done) {
    return walkEntries(
        entries, dbPath, journalPath, false, &status,
        [&](SqliteConnection& db, UndoStep& step, const JournalEntry& entry, Journal& journal, int) {
            if (step.outcome.kind == TaskOutcome::Kind::Change)
                applyEntry(db, step, entry, status, journal);
            if (done)
                done(step.outcome);
        });
}

ActionReport applyUndoPreview(const ActionReport& preview, const QString& dbPath, const QString& journalPath,
                              Feedback& status, const TaskDone& done) {
    QList<qint64> changing;
    QList<int> changingAt;
    for (int e = 0; e < preview.tasks.size(); ++e) {
        if (preview.tasks.at(e).kind == TaskOutcome::Kind::Change) {
            changing << preview.entries.at(e);
            changingAt << e;
        }
    }
    ActionReport report = preview;
    report.preview = false;
    walkEntries(
        changing, dbPath, journalPath, false, &status,
        [&](SqliteConnection& db, UndoStep& step, const JournalEntry& entry, Journal& journal, int e) {
            const int at = changingAt.at(e);
            if (step.outcome.kind == TaskOutcome::Kind::Change &&
                step.outcome.changes != preview.tasks.at(at).changes) {
                step.outcome.kind = TaskOutcome::Kind::NotChanged;
                step.outcome.reason =
                    QStringLiteral("Entry %1 (task %2) was not undone: changed since "
                                   "the preview: %3")
                        .arg(entry.id)
                        .arg(cappedCell(entry.taskId), step.outcome.changes.join(QStringLiteral(", ")));
                step.outcome.changes.clear();
            } else if (step.outcome.kind == TaskOutcome::Kind::Change) {
                applyEntry(db, step, entry, status, journal);
            }
            report.tasks[at] = step.outcome;
            if (done)
                done(step.outcome);
        });
    return report;
}

} // namespace corvane
