#include "AgentTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sqlite3.h>

#include <cstdio>

namespace corvane::fake {

namespace {

const char* const kSchema = R"(
CREATE TABLE ClientOperations (
    ClientOperations_IDN INTEGER PRIMARY KEY AUTOINCREMENT,
    filename TEXT NOT NULL,
    operationType TEXT DEFAULT 'SWD',
    coreServer TEXT DEFAULT 'CORE01',
    created INTEGER DEFAULT 0
);
CREATE TABLE InvokerState (
    InvokerState_IDN INTEGER PRIMARY KEY AUTOINCREMENT,
    ClientOperations_IDN INTEGER NOT NULL,
    state INTEGER,
    lastRunTimeT INTEGER DEFAULT 0,
    returnCode INTEGER DEFAULT 0
);
CREATE TABLE ReschedulePolicy (
    ReschedulePolicy_IDN INTEGER PRIMARY KEY AUTOINCREMENT,
    operationId TEXT NOT NULL,
    periodicReschedule INTEGER,
    rescheduleTimeT INTEGER,
    retryCount INTEGER DEFAULT 0,
    maxRetries INTEGER DEFAULT 3
);
CREATE TABLE PackageState (
    PackageState_IDN INTEGER PRIMARY KEY AUTOINCREMENT,
    Task TEXT NOT NULL,
    Package TEXT,
    State INTEGER DEFAULT 0,
    LastChangeTimeT INTEGER DEFAULT 0
);
)";

// Binds optional texts to the numbered parameters of one statement and runs it.
bool runBound(sqlite3* db, const char* sql, const QList<std::optional<QString>>& values, QString& error) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    for (int i = 0; i < values.size(); ++i) {
        if (values.at(i)) {
            const QByteArray text = values.at(i)->toUtf8();
            sqlite3_bind_text(stmt, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_null(stmt, i + 1);
        }
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    return true;
}

// Opens the tree's database (creating it when asked), runs `work` and closes it.
template <typename Work> bool withDatabase(const QString& path, bool create, QString& error, Work work) {
    if (create && !QDir().mkpath(QFileInfo(path).absolutePath())) {
        error = QStringLiteral("Cannot create the folder of ") + path;
        return false;
    }
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return false;
    }
    const bool ok = work(db);
    sqlite3_close(db);
    return ok;
}

bool execAll(sqlite3* db, const QByteArray& sql, QString& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
        sqlite3_free(message);
        return false;
    }
    return true;
}

QString xmlEscaped(const QString& text) {
    return text.toHtmlEscaped();
}

} // namespace

AgentTree::AgentTree(const QString& root)
    : m_root(root)
    , m_paths(root) {}

bool AgentTree::createDatabase() {
    QFile::remove(m_paths.database());
    return withDatabase(m_paths.database(), true, m_error,
                        [this](sqlite3* db) { return execAll(db, kSchema, m_error); });
}

bool AgentTree::addOperation(const Operation& operation) {
    return withDatabase(m_paths.database(), false, m_error, [&](sqlite3* db) {
        if (!runBound(db, "INSERT INTO ClientOperations (filename) VALUES (?1)", {operation.filename},
                      m_error))
            return false;
        const QString id = QString::number(sqlite3_last_insert_rowid(db));
        if (operation.state &&
            !runBound(db, "INSERT INTO InvokerState (ClientOperations_IDN, state) VALUES (?1, ?2)",
                      {id, operation.state}, m_error))
            return false;
        if (operation.periodicReschedule || operation.rescheduleTimeT) {
            return runBound(db,
                            "INSERT INTO ReschedulePolicy (operationId, periodicReschedule, rescheduleTimeT) "
                            "VALUES (?1, ?2, ?3)",
                            {operation.filename, operation.periodicReschedule, operation.rescheduleTimeT},
                            m_error);
        }
        return true;
    });
}

bool AgentTree::addPackageState(const QString& task, const QString& package, int state) {
    return withDatabase(m_paths.database(), false, m_error, [&](sqlite3* db) {
        return runBound(db, "INSERT INTO PackageState (Task, Package, State) VALUES (?1, ?2, ?3)",
                        {task, package, QString::number(state)}, m_error);
    });
}

bool AgentTree::execute(const QString& sql) {
    return withDatabase(m_paths.database(), false, m_error,
                        [&](sqlite3* db) { return execAll(db, sql.toUtf8(), m_error); });
}

QByteArray AgentTree::descriptorText(const QString& packageName) {
    // The agent writes the package block without indentation, so the tags follow one another.
    const QString text =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                       "<SDClientTask version=\"2\">\r\n"
                       "<Package><Options><Type>S</Type>\r\n"
                       "<Name>%1</Name><Description>Distributed by the core server</Description>"
                       "<PrimaryFile>setup.exe</PrimaryFile>\r\n"
                       "<Arguments>/quiet /norestart</Arguments></Options>\r\n"
                       "<Files><File size=\"1048576\">setup.exe</File></Files></Package>\r\n"
                       "</SDClientTask>\r\n")
            .arg(xmlEscaped(packageName));
    return text.toUtf8();
}

qint64 AgentTree::agentTime(const QDateTime& moment) {
    // The agent counts wall-clock seconds, with no time zone: take the local date and time as if UTC.
    return QDateTime(moment.date(), moment.time(), Qt::UTC).toSecsSinceEpoch();
}

bool AgentTree::writeDescriptor(const QString& operationFile, const QString& packageName) {
    return writeFile(m_paths.descriptor(operationFile), descriptorText(packageName));
}

bool AgentTree::writeScheduledTasks(const QList<ScheduledTask>& tasks) {
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<SDClientTasks>\r\n");
    for (const ScheduledTask& task : tasks) {
        text += QStringLiteral("  <task");
        if (task.taskid)
            text += QStringLiteral(" taskid=\"%1\"").arg(xmlEscaped(*task.taskid));
        if (task.state)
            text += QStringLiteral(" state=\"%1\"").arg(xmlEscaped(*task.state));
        if (task.time)
            text += QStringLiteral(" time=\"%1\"").arg(xmlEscaped(*task.time));
        text += QStringLiteral(" />\r\n");
    }
    text += QStringLiteral("</SDClientTasks>\r\n");
    return writeFile(m_paths.scheduledTasks(), text.toUtf8());
}

bool AgentTree::writeInvokerLog(const QByteArray& content) {
    return writeFile(m_paths.invokerLog(), content);
}

bool AgentTree::installSynchroniser(const QString& program, const SyncOptions& options) {
    // A copy of this executable, not a script, so that the stand-in starts the same way on every system; the
    // copy finds its command line in the file beside it.
    const QString target = m_paths.synchroniser();
    QStringList arguments = {QStringLiteral("synchronise"), QStringLiteral("--agent-root"),
                             QDir(m_root).absolutePath(), QStringLiteral("--delay-ms"),
                             QString::number(options.delayMs)};
    if (options.neverStop)
        arguments << QStringLiteral("--never-stop");
    if (options.failAtOnce)
        arguments << QStringLiteral("--fail");
    if (options.freshLog)
        arguments << QStringLiteral("--fresh-log");
    if (options.chatter)
        arguments << QStringLiteral("--chatter");
    if (options.holdMs > 0)
        arguments << QStringLiteral("--hold-ms") << QString::number(options.holdMs);
    if (options.floodBytesPerSecond > 0)
        arguments << QStringLiteral("--flood-bytes-per-second")
                  << QString::number(options.floodBytesPerSecond) << QStringLiteral("--flood-seconds")
                  << QString::number(options.floodSeconds);
    if (!options.wipeLog.isEmpty())
        arguments << QStringLiteral("--wipe-log") << options.wipeLog;
    if (!options.recordStartup.isEmpty())
        arguments << QStringLiteral("--record-startup") << options.recordStartup;
    if (options.handOver)
        arguments << QStringLiteral("--hand-over");
    if (options.exitStatus)
        arguments << QStringLiteral("--exit-status") << QString::number(*options.exitStatus);
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        m_error = QStringLiteral("Cannot create the folder of ") + target;
        return false;
    }
    QFile::remove(target);
    if (!QFile::copy(program, target)) {
        m_error = QStringLiteral("Cannot copy %1 to %2").arg(program, target);
        return false;
    }
    return writeFile(target + kBakedArgumentsSuffix, arguments.join(QLatin1Char('\n')).toUtf8());
}

bool holdDatabaseLock(const QString& root, bool halfWritten, QString& error) {
    const AgentTree tree(root);
    return withDatabase(tree.paths().database(), false, error, [&](sqlite3* db) {
        if (!execAll(db, "BEGIN EXCLUSIVE", error))
            return false;
        // A write under way: every invoker state changed, and enough pages for SQLite to spill them into
        // the database file before the commit that a kill then never lets come.
        if (halfWritten &&
            !execAll(db,
                     "PRAGMA cache_size = 10; UPDATE InvokerState SET state = 99; CREATE TABLE spill (x);"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                     "INSERT INTO spill SELECT randomblob(500) FROM n;",
                     error))
            return false;
        std::fputs("locked\n", stdout);
        std::fflush(stdout);
        while (std::fgetc(stdin) != EOF) {
        }
        return execAll(db, "ROLLBACK", error);
    });
}

bool AgentTree::appendFile(const QString& path, const QByteArray& content) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        m_error = QStringLiteral("Cannot create the folder of ") + path;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(content) != content.size()) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

bool AgentTree::writeFile(const QString& path, const QByteArray& content) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        m_error = QStringLiteral("Cannot create the folder of ") + path;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

} // namespace corvane::fake
