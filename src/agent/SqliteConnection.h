#pragma once

#include <QString>
#include <QStringList>

#include <QList>

struct sqlite3;

namespace corvane {

// One connection to an existing SQLite file, closed when the object goes. It never creates a database:
// an absent file fails to open instead of leaving an empty database at the agent's path.
class SqliteConnection {
public:
    // How long a statement waits for a lock held by the agent before it fails.
    static constexpr int kBusyTimeoutMs = 2000;

    // Reading opens read-only, so that a read can never change the agent's database: no checkpoint of its
    // write-ahead log, no journal rolled back or deleted.
    enum class Access { ReadOnly, ReadWrite };

    explicit SqliteConnection(const QString& path, Access access = Access::ReadWrite);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    bool isOpen() const { return m_db != nullptr; }

    // Runs one SQL statement and returns its rows, every value as text (NULL as an empty text).
    // On failure returns false and puts SQLite's message in `error`; `rows` then holds nothing.
    bool run(const QString& sql, QList<QStringList>& rows, QString& error);

private:
    sqlite3* m_db = nullptr;
    QString m_openError;
};

} // namespace corvane
