#include "SqliteConnection.h"

#include "AgentFile.h"

#include <sqlite3.h>

namespace corvane {

namespace {
// Finalizes a prepared statement on every path out of query().
struct StatementGuard {
    sqlite3_stmt* stmt = nullptr;
    ~StatementGuard() { sqlite3_finalize(stmt); }
};
} // namespace

SqliteConnection::SqliteConnection(const QString& path, Access access) {
    // A database that is a link leading out of its folder would be changed wherever it leads.
    if (!isInsideItsFolder(path, m_openError))
        return;
    const QByteArray file = path.toUtf8();
    sqlite3* db = nullptr;
    const int flags = access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    const int rc = sqlite3_open_v2(file.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        m_openError = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        return;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    m_db = db;
}

SqliteConnection::~SqliteConnection() {
    sqlite3_close(m_db);
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
                             QString& error) {
    rows.clear();
    if (!m_db) {
        error = m_openError;
        return false;
    }
    const QByteArray text = sql.toUtf8();
    StatementGuard guard;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &guard.stmt, &tail) != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(m_db));
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
            sqlite3_bind_double(guard.stmt, slot, value.bytes.toDouble());
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
    for (;;) {
        const int rc = sqlite3_step(guard.stmt);
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW) {
            error = QString::fromUtf8(sqlite3_errmsg(m_db));
            rows.clear();
            return false;
        }
        QList<SqlValue> row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            SqlValue value;
            switch (sqlite3_column_type(guard.stmt, c)) {
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
            if (value.type == SqlValue::Type::Blob) {
                const auto* data = static_cast<const char*>(sqlite3_column_blob(guard.stmt, c));
                value.bytes = QByteArray(data, sqlite3_column_bytes(guard.stmt, c));
            } else if (value.type != SqlValue::Type::Null) {
                const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(guard.stmt, c));
                value.bytes = QByteArray(data, sqlite3_column_bytes(guard.stmt, c));
            }
            row.append(value);
        }
        rows.append(row);
    }
}

bool SqliteConnection::exec(const QString& sql, QString& error, const QList<SqlValue>& values) {
    QList<QList<SqlValue>> rows;
    return query(sql, values, rows, error);
}

int SqliteConnection::changes() const {
    return m_db ? sqlite3_changes(m_db) : 0;
}

} // namespace corvane
