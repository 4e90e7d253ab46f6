#pragma once

#include "base/SqliteConnection.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// One row of the agent's database as an action found it and left it: every column's value exactly as stored,
// under the column names of the agent's schema. No `before`: the action inserted the row; no `after`: it
// deleted it.
struct RowChange {
    QString table;
    qint64 rowid = 0;
    QStringList columns;
    std::optional<QList<SqlValue>> before;
    std::optional<QList<SqlValue>> after;
};

// One task changed by one action: who, when, what, and every row it changed.
struct JournalEntry {
    qint64 id = 0;
    QDateTime time; // local, with its offset
    QString user;
    QString machine;
    QString action; // "Stop Install", "Reinstall" or "Undo"
    QString taskId;
    QString operationFile;
    QString packageName;
    QString status;    // "pending", "done", "undone", "not applied" or "unknown"
    qint64 undoes = 0; // an Undo entry: the entry it took back
    QList<RowChange> rows;
};

inline const QString kPending = QStringLiteral("pending");
inline const QString kDone = QStringLiteral("done");
inline const QString kUndone = QStringLiteral("undone");
inline const QString kNotApplied = QStringLiteral("not applied");
inline const QString kUnknown = QStringLiteral("unknown");

// Corvane's own record of every change it makes to the agent's database, in a SQLite file of its own. An
// entry is written and committed before the agent's transaction commits ("pending"), then marked "done";
// an entry left pending by a Corvane that was stopped in between is settled from the agent's rows.
class Journal {
public:
    // Entries older than this, and past the newest kMaxEntries, are dropped when the journal is opened.
    static constexpr int kKeepDays = 400;
    static constexpr int kMaxEntries = 100000;

    // Opens the journal at `path`, creating it and its folder when missing. False with the reason.
    bool open(const QString& path, QString& error);
    QString path() const { return m_path; }

    // Writes `entry` as pending and commits it; sets its id.
    bool add(JournalEntry& entry, QString& error);
    bool setStatus(qint64 id, const QString& status, QString& error);
    // Newest first; only the task's entries when `taskId` is given.
    bool entries(const std::optional<QString>& taskId, QList<JournalEntry>& into, QString& error);
    bool entry(qint64 id, JournalEntry& into, QString& error);

    // Settles every pending entry by the agent's rows as they are now: "done" when they hold the entry's
    // after-values, "not applied" when they hold its before-values, "unknown" otherwise.
    bool settle(SqliteConnection& agent, QString& error);

    // The rows of `table` at `rowid` as stored now, with the schema's column names; no row: nothing.
    static bool readRow(SqliteConnection& db, const QString& table, qint64 rowid, QStringList& columns,
                        std::optional<QList<SqlValue>>& row, QString& error);

private:
    bool prune(QString& error);
    bool select(const QString& where, const QList<SqlValue>& values, QList<JournalEntry>& into,
                QString& error);
    bool readRows(JournalEntry& entry, QString& error);

    QString m_path;
    std::optional<SqliteConnection> m_db;
};

// The entries of the journal at `path`, newest first (only the task's when given); none when it does not
// exist yet, and no file is created for the asking.
bool readHistory(const QString& path, const std::optional<QString>& taskId, QList<JournalEntry>& entries,
                 QString& error);

// What the entry changed, in one line: "InvokerState row 1: state Waiting -> Completed; ReschedulePolicy
// row 1 deleted".
QString describeChanges(const JournalEntry& entry);

// A new entry for an action on a task, stamped with the time, the user and the machine.
JournalEntry newEntry(const QString& action, const QString& taskId, const QString& operationFile,
                      const QString& packageName);

} // namespace corvane

namespace corvane {

// Commits the agent's open transaction write-ahead: `entry` is committed to `journal` first as pending, then
// the agent's transaction, then the entry is marked done. Without a journal only the agent's transaction is
// committed. False with the reason when nothing reached the agent's database; the caller rolls it back.
bool commitJournaled(SqliteConnection& agent, Journal* journal, JournalEntry& entry, QString& error);

} // namespace corvane
