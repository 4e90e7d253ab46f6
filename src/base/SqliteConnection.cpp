#include "base/SqliteConnection.h"

#include "base/AgentFile.h"

#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>

namespace corvane {

namespace {
// Finalizes a prepared statement on every path out of query().
struct StatementGuard {
    sqlite3_stmt* stmt = nullptr;
    ~StatementGuard() { sqlite3_finalize(stmt); }
};
} // namespace

SqliteConnection::SqliteConnection(const QString& path, Access access)
    : m_path(path)
    , m_access(access) {
    // A database that is a link leading out of its folder would be changed wherever it leads.
    if (!isInsideItsFolder(path, m_openError))
        return;
    m_db = open(m_openError);
}

SqliteConnection::~SqliteConnection() {
    sqlite3_close(m_db);
}

sqlite3* SqliteConnection::open(QString& error) const {
    const QByteArray file = m_path.toUtf8();
    sqlite3* db = nullptr;
    const int flags = m_access == Access::ReadOnly ? SQLITE_OPEN_READONLY
                      : m_access == Access::Create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                                   : SQLITE_OPEN_READWRITE;
    const int rc = sqlite3_open_v2(file.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        error = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_handler(db, &SqliteConnection::waitForLock, const_cast<SqliteConnection*>(this));
    return db;
}

// SQLite's own busy timeout, with a word to whoever waits when the wait begins.
int SqliteConnection::waitForLock(void* connection, int attempt) {
    auto* self = static_cast<SqliteConnection*>(connection);
    const qint64 now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    if (attempt == 0) {
        self->m_waitStartedMs = now;
        if (self->m_waitNotice)
            self->m_waitNotice();
    }
    if (now - self->m_waitStartedMs >= kBusyTimeoutMs)
        return 0;
    QThread::msleep(std::min<qint64>(10, kBusyTimeoutMs - (now - self->m_waitStartedMs)));
    return 1;
}

// A crashed writer leaves a journal that only a connection allowed to write can roll back: a read-only one
// fails on it, whoever runs it. Opening read-write once rolls it back, as the agent's next access would.
bool SqliteConnection::rollBackInterruptedWrite(QString& error) {
    SqliteConnection writer(m_path, Access::ReadWrite);
    QList<QList<SqlValue>> rows;
    if (writer.step(QStringLiteral("SELECT count(*) FROM sqlite_master"), {}, rows, error))
        return true;
    error = QStringLiteral("An interrupted write of the agent database could not be rolled back: ") + error;
    return false;
}

bool SqliteConnection::run(const QString& sql, QList<QStringList>& rows, QString& error) {
    rows.clear();
    QList<QList<SqlValue>> values;
    if (!query(sql, {}, values, error))
        return false;
    rows.reserve(values.size());
    for (const QList<SqlValue>& row : values) {
        QStringList texts;
        texts.reserve(row.size());
        for (const SqlValue& value : row)
            texts.append(value.text());
        rows.append(texts);
    }
    return true;
}

bool SqliteConnection::query(const QString& sql, const QList<SqlValue>& values, QList<QList<SqlValue>>& rows,
                             QStringList& columns, QString& error) {
    return step(sql, values, rows, error, &columns);
}

bool SqliteConnection::query(const QString& sql, const QList<SqlValue>& values, QList<QList<SqlValue>>& rows,
                             QString& error) {
    if (step(sql, values, rows, error))
        return true;
    return recoveredForRetry(error) && step(sql, values, rows, error);
}

bool SqliteConnection::forEachRow(const QString& sql, const std::function<void(const SqlRow&)>& use,
                                  QString& error) {
    bool handedOver = false;
    const auto each = [&](sqlite3_stmt* statement, int columns) {
        handedOver = true;
        use(SqlRow(statement, columns));
    };
    if (stepRows(sql, {}, each, error))
        return true;
    // An interrupted write fails the first step, before any row.
    return !handedOver && recoveredForRetry(error) && stepRows(sql, {}, each, error);
}

bool SqliteConnection::recoveredForRetry(QString& error) {
    if (m_access != Access::ReadOnly || m_recoveryTried || !m_db ||
        sqlite3_extended_errcode(m_db) != SQLITE_READONLY_ROLLBACK)
        return false;
    m_recoveryTried = true;
    const bool inTransaction = sqlite3_get_autocommit(m_db) == 0;
    if (!rollBackInterruptedWrite(error))
        return false;
    sqlite3_close(m_db);
    m_db = open(m_openError);
    QList<QList<SqlValue>> ignored;
    if (inTransaction && !step(QStringLiteral("BEGIN"), {}, ignored, error))
        return false;
    m_recovered = true;
    return true;
}

QByteArrayView SqlRow::text(int column) const {
    // Asked in this order, SQLite gives the text as stored (a BLOB's bytes as they are) without a copy.
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return data ? QByteArrayView(data, sqlite3_column_bytes(m_statement, column)) : QByteArrayView();
}

bool SqliteConnection::stepRows(const QString& sql, const QList<SqlValue>& values,
                                const std::function<void(sqlite3_stmt*, int columns)>& use, QString& error,
                                QStringList* columnNames) {
    m_lastBusy = false;
    if (!m_db) {
        error = m_openError;
        return false;
    }
    const QByteArray text = sql.toUtf8();
    StatementGuard guard;
    const char* tail = nullptr;
    if (const int rc = sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &guard.stmt, &tail);
        rc != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(m_db));
        m_lastBusy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
        return false;
    }
    if (!guard.stmt) {
        error = QStringLiteral("The SQL text holds no statement");
        return false;
    }
    // A second statement behind the first is refused rather than silently dropped.
    if (!QByteArray(tail).trimmed().isEmpty()) {
        error = QStringLiteral("The SQL text holds more than one statement");
        return false;
    }
    for (int i = 0; i < values.size(); ++i) {
        const SqlValue& value = values.at(i);
        const int slot = i + 1;
        switch (value.type) {
        case SqlValue::Type::Null:
            sqlite3_bind_null(guard.stmt, slot);
            break;
        case SqlValue::Type::Integer:
            sqlite3_bind_int64(guard.stmt, slot, value.bytes.toLongLong());
            break;
        case SqlValue::Type::Real:
            sqlite3_bind_double(guard.stmt, slot, value.real);
            break;
        case SqlValue::Type::Text:
            sqlite3_bind_text(guard.stmt, slot, value.bytes.constData(), int(value.bytes.size()),
                              SQLITE_TRANSIENT);
            break;
        case SqlValue::Type::Blob:
            sqlite3_bind_blob(guard.stmt, slot, value.bytes.constData(), int(value.bytes.size()),
                              SQLITE_TRANSIENT);
            break;
        }
    }
    const int columns = sqlite3_column_count(guard.stmt);
    if (columnNames) {
        columnNames->clear();
        for (int c = 0; c < columns; ++c)
            *columnNames << QString::fromUtf8(sqlite3_column_name(guard.stmt, c));
    }
    for (;;) {
        const int rc = sqlite3_step(guard.stmt);
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW) {
            error = QString::fromUtf8(sqlite3_errmsg(m_db));
            m_lastBusy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
            return false;
        }
        use(guard.stmt, columns);
    }
}

bool SqliteConnection::step(const QString& sql, const QList<SqlValue>& values, QList<QList<SqlValue>>& rows,
                            QString& error, QStringList* columnNames) {
    rows.clear();
    const auto each = [&rows](sqlite3_stmt* statement, int columns) {
        QList<SqlValue> row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            SqlValue value;
            switch (sqlite3_column_type(statement, c)) {
            case SQLITE_INTEGER:
                value.type = SqlValue::Type::Integer;
                break;
            case SQLITE_FLOAT:
                value.type = SqlValue::Type::Real;
                break;
            case SQLITE_TEXT:
                value.type = SqlValue::Type::Text;
                break;
            case SQLITE_BLOB:
                value.type = SqlValue::Type::Blob;
                break;
            default:
                value.type = SqlValue::Type::Null;
                break;
            }
            if (value.type == SqlValue::Type::Real)
                value.real = sqlite3_column_double(statement, c);
            if (value.type == SqlValue::Type::Blob) {
                const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, c));
                value.bytes = QByteArray(data, sqlite3_column_bytes(statement, c));
            } else if (value.type != SqlValue::Type::Null) {
                const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                value.bytes = QByteArray(data, sqlite3_column_bytes(statement, c));
            }
            row.append(value);
        }
        rows.append(row);
    };
    if (stepRows(sql, values, each, error, columnNames))
        return true;
    rows.clear();
    return false;
}

bool SqliteConnection::exec(const QString& sql, const QList<SqlValue>& values, QString& error) {
    QList<QList<SqlValue>> rows;
    return query(sql, values, rows, error);
}

int SqliteConnection::changes() const {
    return m_db ? sqlite3_changes(m_db) : 0;
}

qint64 SqliteConnection::totalChanges() const {
    return m_db ? sqlite3_total_changes64(m_db) : 0;
}

} // namespace corvane
