#include "actions/Journal.h"

#include "agent/TaskRecord.h"

#include <QDir>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif
#include <QFileInfo>
#include <QSysInfo>

namespace corvane {

namespace {

const QString kSchema[] = {
    QStringLiteral(
        "CREATE TABLE IF NOT EXISTS entries (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, "
        "user TEXT NOT NULL, machine TEXT NOT NULL, action TEXT NOT NULL, task TEXT NOT NULL, "
        "operation TEXT NOT NULL, package TEXT NOT NULL, status TEXT NOT NULL, undoes INTEGER)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS entries_task ON entries (task)"),
    // One line per row changed; its values in `cells`, one per column, in columns without a type so that
    // every value keeps its storage class.
    QStringLiteral("CREATE TABLE IF NOT EXISTS changes (entry INTEGER NOT NULL, seq INTEGER NOT NULL, "
                   "tbl TEXT NOT NULL, rowid_ INTEGER NOT NULL, hasBefore INTEGER NOT NULL, "
                   "hasAfter INTEGER NOT NULL, PRIMARY KEY (entry, seq))"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS cells (entry INTEGER NOT NULL, seq INTEGER NOT NULL, "
                   "col INTEGER NOT NULL, name TEXT NOT NULL, before, after, PRIMARY KEY (entry, seq, col))"),
};

SqlValue integer(qint64 value) {
    return {SqlValue::Type::Integer, QByteArray::number(value), 0};
}
SqlValue text(const QString& value) {
    return {SqlValue::Type::Text, value.toUtf8(), 0};
}
qint64 toInteger(const SqlValue& value) {
    return value.bytes.toLongLong();
}

// An identifier of the agent's schema, quoted for a statement.
QString quoted(const QString& name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

// Runs statements in one transaction of the journal, rolled back on any failure.
template <typename Work> bool transaction(SqliteConnection& db, QString& error, Work work) {
    if (!db.exec(QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    if (!work() || !db.exec(QStringLiteral("COMMIT"), error)) {
        QString ignored;
        db.exec(QStringLiteral("ROLLBACK"), ignored);
        return false;
    }
    return true;
}

QString currentUser() {
    QString user = qEnvironmentVariable("USERNAME");
#ifndef Q_OS_WIN
    if (user.isEmpty())
        user = qEnvironmentVariable("USER");
    if (const passwd* account = getpwuid(geteuid()); user.isEmpty() && account)
        user = QString::fromLocal8Bit(account->pw_name);
#endif
    return user;
}

} // namespace

namespace {
QString shown(const QString& column, const SqlValue& value) {
    if (value.type == SqlValue::Type::Null)
        return QStringLiteral("NULL");
    if (value.type == SqlValue::Type::Blob)
        return QStringLiteral("x'%1'").arg(QString::fromLatin1(value.bytes.left(32).toHex()));
    if (column.compare(QLatin1String("state"), Qt::CaseInsensitive) == 0) {
        const QString name = StateNames::name(value.text());
        if (!name.isEmpty())
            return name;
    }
    return value.text().left(200);
}
} // namespace

bool readHistory(const QString& path, const std::optional<QString>& taskId, QList<JournalEntry>& entries,
                 QString& error) {
    entries.clear();
    if (!QFileInfo::exists(path))
        return true;
    Journal journal;
    return journal.open(path, error) && journal.entries(taskId, entries, error);
}

QString describeChanges(const JournalEntry& entry) {
    QStringList parts;
    for (const RowChange& change : entry.rows) {
        const QString row = QStringLiteral("%1 row %2").arg(change.table).arg(change.rowid);
        if (!change.after) {
            parts << row + QStringLiteral(" deleted");
        } else if (!change.before) {
            parts << row + QStringLiteral(" inserted");
        } else {
            QStringList columns;
            for (int c = 0; c < change.columns.size(); ++c) {
                const SqlValue was = change.before->value(c);
                const SqlValue is = change.after->value(c);
                if (!(was == is))
                    columns << QStringLiteral("%1 %2 -> %3")
                                   .arg(change.columns.at(c), shown(change.columns.at(c), was),
                                        shown(change.columns.at(c), is));
            }
            parts << QStringLiteral("%1: %2").arg(
                row, columns.isEmpty() ? QStringLiteral("unchanged") : columns.join(QStringLiteral(", ")));
        }
    }
    return parts.join(QStringLiteral("; "));
}

JournalEntry newEntry(const QString& action, const QString& taskId, const QString& operationFile,
                      const QString& packageName) {
    JournalEntry entry;
    const QDateTime now = QDateTime::currentDateTime();
    entry.time = now.toOffsetFromUtc(now.offsetFromUtc());
    entry.user = currentUser();
    entry.machine = QSysInfo::machineHostName();
    entry.action = action;
    entry.taskId = taskId;
    entry.operationFile = operationFile;
    entry.packageName = packageName;
    entry.status = kPending;
    return entry;
}

bool Journal::open(const QString& path, QString& error) {
    m_path = path;
    m_db.reset();
    const QFileInfo file(path);
    if (file.exists() && !file.isFile()) {
        error = QStringLiteral("%1 is not a file").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!QDir().mkpath(file.absolutePath())) {
        error =
            QStringLiteral("can't create the folder %1").arg(QDir::toNativeSeparators(file.absolutePath()));
        return false;
    }
    m_db.emplace(path, SqliteConnection::Access::Create);
    QString why;
    // A write-ahead log: an entry costs one sync of the log to disk, where a rollback journal costs several.
    QList<QList<SqlValue>> mode;
    m_db->query(QStringLiteral("PRAGMA journal_mode = WAL"), {}, mode, why);
    for (const QString& statement : kSchema) {
        if (!m_db->exec(statement, why)) {
            error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
            m_db.reset();
            return false;
        }
    }
    if (!prune(why)) {
        error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
        m_db.reset();
        return false;
    }
    return true;
}

bool Journal::prune(QString& error) {
    const QString oldest = QDateTime::currentDateTimeUtc().addDays(-kKeepDays).toString(Qt::ISODate);
    return transaction(*m_db, error, [&] {
        // Times carry their offset; comparing them as UTC texts is close enough for a 400-day horizon.
        return m_db->exec(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS dropped (id INTEGER PRIMARY KEY)"),
                          error) &&
               m_db->exec(QStringLiteral("DELETE FROM dropped"), error) &&
               m_db->exec(
                   QStringLiteral("INSERT INTO dropped SELECT id FROM entries WHERE substr(time, 1, 19) < "
                                  "substr(?1, 1, 19) OR id <= (SELECT max(id) FROM entries) - ?2"),
                   {text(oldest), integer(kMaxEntries)}, error) &&
               m_db->exec(QStringLiteral("DELETE FROM cells WHERE entry IN (SELECT id FROM dropped)"),
                          error) &&
               m_db->exec(QStringLiteral("DELETE FROM changes WHERE entry IN (SELECT id FROM dropped)"),
                          error) &&
               m_db->exec(QStringLiteral("DELETE FROM entries WHERE id IN (SELECT id FROM dropped)"), error);
    });
}

bool Journal::add(JournalEntry& entry, QString& error) {
    if (!m_db) {
        error = QStringLiteral("the journal is not open");
        return false;
    }
    // The entry must be on disk before the agent's commit: synced in full.
    if (!m_db->exec(QStringLiteral("PRAGMA synchronous = FULL"), error))
        return false;
    return transaction(*m_db, error, [&] {
        if (!m_db->exec(
                QStringLiteral("INSERT INTO entries (time, user, machine, action, task, operation, "
                               "package, status, undoes) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"),
                {text(entry.time.toString(Qt::ISODate)), text(entry.user), text(entry.machine),
                 text(entry.action), text(entry.taskId), text(entry.operationFile), text(entry.packageName),
                 text(entry.status), entry.undoes ? integer(entry.undoes) : SqlValue()},
                error))
            return false;
        QList<QList<SqlValue>> rows;
        if (!m_db->query(QStringLiteral("SELECT last_insert_rowid()"), {}, rows, error))
            return false;
        entry.id = toInteger(rows.value(0).value(0));
        for (int seq = 0; seq < entry.rows.size(); ++seq) {
            const RowChange& change = entry.rows.at(seq);
            if (!m_db->exec(QStringLiteral("INSERT INTO changes VALUES (?1, ?2, ?3, ?4, ?5, ?6)"),
                            {integer(entry.id), integer(seq), text(change.table), integer(change.rowid),
                             integer(change.before ? 1 : 0), integer(change.after ? 1 : 0)},
                            error))
                return false;
            for (int col = 0; col < change.columns.size(); ++col) {
                if (!m_db->exec(QStringLiteral("INSERT INTO cells VALUES (?1, ?2, ?3, ?4, ?5, ?6)"),
                                {integer(entry.id), integer(seq), integer(col), text(change.columns.at(col)),
                                 change.before ? change.before->value(col) : SqlValue(),
                                 change.after ? change.after->value(col) : SqlValue()},
                                error))
                    return false;
            }
        }
        return true;
    });
}

bool Journal::setStatus(qint64 id, const QString& status, QString& error) {
    if (!m_db) {
        error = QStringLiteral("the journal is not open");
        return false;
    }
    // A status lost to a crash is settled again from the agent's rows: it needs no sync of its own.
    return m_db->exec(QStringLiteral("PRAGMA synchronous = NORMAL"), error) &&
           m_db->exec(QStringLiteral("UPDATE entries SET status = ?1 WHERE id = ?2"),
                      {text(status), integer(id)}, error);
}

bool Journal::readRows(JournalEntry& entry, QString& error) {
    QList<QList<SqlValue>> changes;
    QList<QList<SqlValue>> cells;
    if (!m_db->query(
            QStringLiteral("SELECT seq, tbl, rowid_, hasBefore, hasAfter FROM changes WHERE entry = ?1 "
                           "ORDER BY seq"),
            {integer(entry.id)}, changes, error) ||
        !m_db->query(
            QStringLiteral("SELECT seq, name, before, after FROM cells WHERE entry = ?1 ORDER BY seq, col"),
            {integer(entry.id)}, cells, error))
        return false;
    for (const QList<SqlValue>& row : changes) {
        RowChange change;
        change.table = row.value(1).text();
        change.rowid = toInteger(row.value(2));
        QList<SqlValue> before;
        QList<SqlValue> after;
        for (const QList<SqlValue>& cell : cells) {
            if (toInteger(cell.value(0)) != toInteger(row.value(0)))
                continue;
            change.columns << cell.value(1).text();
            before << cell.value(2);
            after << cell.value(3);
        }
        if (toInteger(row.value(3)))
            change.before = before;
        if (toInteger(row.value(4)))
            change.after = after;
        entry.rows << change;
    }
    return true;
}

bool Journal::select(const QString& where, const QList<SqlValue>& values, QList<JournalEntry>& into,
                     QString& error) {
    into.clear();
    if (!m_db) {
        error = QStringLiteral("the journal is not open");
        return false;
    }
    QList<QList<SqlValue>> rows;
    if (!m_db->query(
            QStringLiteral("SELECT id, time, user, machine, action, task, operation, package, status, "
                           "undoes FROM entries ") +
                where + QStringLiteral(" ORDER BY id DESC"),
            values, rows, error))
        return false;
    for (const QList<SqlValue>& row : rows) {
        JournalEntry entry;
        entry.id = toInteger(row.value(0));
        entry.time = QDateTime::fromString(row.value(1).text(), Qt::ISODate);
        entry.user = row.value(2).text();
        entry.machine = row.value(3).text();
        entry.action = row.value(4).text();
        entry.taskId = row.value(5).text();
        entry.operationFile = row.value(6).text();
        entry.packageName = row.value(7).text();
        entry.status = row.value(8).text();
        entry.undoes = toInteger(row.value(9));
        if (!readRows(entry, error))
            return false;
        into << entry;
    }
    return true;
}

bool Journal::entries(const std::optional<QString>& taskId, QList<JournalEntry>& into, QString& error) {
    return taskId ? select(QStringLiteral("WHERE task = ?1"), {text(*taskId)}, into, error)
                  : select(QString(), {}, into, error);
}

bool Journal::entry(qint64 id, JournalEntry& into, QString& error) {
    QList<JournalEntry> found;
    if (!select(QStringLiteral("WHERE id = ?1"), {integer(id)}, found, error))
        return false;
    if (found.isEmpty()) {
        error = QStringLiteral("no entry %1 in the journal").arg(id);
        return false;
    }
    into = found.first();
    return true;
}

bool Journal::readRow(SqliteConnection& db, const QString& table, qint64 rowid, QStringList& columns,
                      std::optional<QList<SqlValue>>& row, QString& error) {
    QList<QList<SqlValue>> rows;
    if (!db.query(QStringLiteral("SELECT * FROM %1 WHERE rowid = ?1").arg(quoted(table)), {integer(rowid)},
                  rows, columns, error))
        return false;
    row.reset();
    if (!rows.isEmpty())
        row = rows.first();
    return true;
}

bool Journal::settle(SqliteConnection& agent, QString& error) {
    QList<JournalEntry> pending;
    if (!select(QStringLiteral("WHERE status = ?1"), {text(kPending)}, pending, error))
        return false;
    for (const JournalEntry& entry : pending) {
        bool allAfter = true;
        bool allBefore = true;
        for (const RowChange& change : entry.rows) {
            QStringList columns;
            std::optional<QList<SqlValue>> now;
            if (!readRow(agent, change.table, change.rowid, columns, now, error))
                return false;
            allAfter = allAfter && now == change.after;
            allBefore = allBefore && now == change.before;
        }
        const QString status = allAfter ? kDone : allBefore ? kNotApplied : kUnknown;
        if (!setStatus(entry.id, status, error))
            return false;
        if (status == kDone && entry.undoes && !setStatus(entry.undoes, kUndone, error))
            return false;
    }
    return true;
}

} // namespace corvane

namespace corvane {

bool commitJournaled(SqliteConnection& agent, Journal* journal, JournalEntry& entry, QString& error) {
    QString why;
    if (journal && !journal->add(entry, why)) {
        error = QStringLiteral("the journal %1 could not be written: %2")
                    .arg(QDir::toNativeSeparators(journal->path()), why);
        return false;
    }
    if (!agent.exec(QStringLiteral("COMMIT"), error)) {
        if (journal)
            journal->setStatus(entry.id, kNotApplied, why);
        return false;
    }
    // Should this fail, the entry stays pending and is settled from the agent's rows at the next opening.
    if (journal && journal->setStatus(entry.id, kDone, why)) {
        entry.status = kDone;
        if (entry.undoes)
            journal->setStatus(entry.undoes, kUndone, why);
    }
    return true;
}

} // namespace corvane
