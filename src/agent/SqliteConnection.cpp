#include "SqliteConnection.h"

#include <sqlite3.h>

namespace corvane {

namespace {
// Finalizes a prepared statement on every path out of run().
struct StatementGuard {
    sqlite3_stmt* stmt = nullptr;
    ~StatementGuard() { sqlite3_finalize(stmt); }
};
} // namespace

SqliteConnection::SqliteConnection(const QString& path, Access access) {
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
        QStringList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(guard.stmt, c));
            row.append(value ? QString::fromUtf8(value, sqlite3_column_bytes(guard.stmt, c)) : QString());
        }
        rows.append(row);
    }
}

} // namespace corvane
