#pragma once

#include <QString>
#include <QStringList>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

namespace corvane {

// One value exactly as SQLite stores it: its storage class and its bytes (text as stored, integers and reals
// as SQLite writes them as text). Bound back into a statement it matches the stored value and nothing else,
// where a value turned into a QString and quoted would miss a BLOB or text that is not valid UTF-8.
struct SqlValue {
    enum class Type { Null, Integer, Real, Text, Blob };
    Type type = Type::Null;
    QByteArray bytes;
    double real = 0; // a REAL exactly, where its text has only 15 digits

    // The value as the task list reads it: UTF-8 text, NULL as an empty text.
    QString text() const { return QString::fromUtf8(bytes); }
    bool operator==(const SqlValue& other) const {
        return type == other.type && bytes == other.bytes && (type != Type::Real || real == other.real);
    }
};

// The row a statement stands on, for a reader that takes each row as it comes instead of a list of them.
class SqlRow {
public:
    int size() const { return m_columns; }
    // The value of `column` as the task list reads it: its text as stored (UTF-8), NULL as an empty text. The
    // bytes hold until the statement moves on.
    QByteArrayView text(int column) const;

private:
    friend class SqliteConnection;
    SqlRow(sqlite3_stmt* statement, int columns)
        : m_statement(statement)
        , m_columns(columns) {}
    sqlite3_stmt* m_statement;
    int m_columns;
};

// One connection to an existing SQLite file, closed when the object goes. It never creates a database:
// an absent file fails to open instead of leaving an empty database at the agent's path.
class SqliteConnection {
public:
    // How long a statement waits for a lock held by the agent before it fails.
    static constexpr int kBusyTimeoutMs = 2000;

    // Reading opens read-only, so that a read can never change the agent's database: no checkpoint of its
    // write-ahead log, no journal rolled back or deleted.
    // Create: read-write, and a missing file is created (Corvane's own files only, never the agent's).
    enum class Access { ReadOnly, ReadWrite, Create };

    explicit SqliteConnection(const QString& path, Access access = Access::ReadWrite);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Called once each time a statement starts waiting for a lock that another program holds.
    void setWaitNotice(std::function<void()> notice) { m_waitNotice = std::move(notice); }

    // Runs one SQL statement and returns its rows, every value as text (NULL as an empty text).
    // On failure returns false and puts SQLite's message in `error`; `rows` then holds nothing.
    bool run(const QString& sql, QList<QStringList>& rows, QString& error);

    // Runs one SQL statement and hands each row to `use` as it is read, nothing kept. On failure returns
    // false with SQLite's message in `error`: rows already handed over are then to be dropped.
    bool forEachRow(const QString& sql, const std::function<void(const SqlRow&)>& use, QString& error);

    // Runs one SQL statement with `values` bound to its parameters ?1, ?2, ... and returns its rows with
    // every value as stored. On failure returns false and puts SQLite's message in `error`.
    bool query(const QString& sql, const QList<SqlValue>& values, QList<QList<SqlValue>>& rows,
               QString& error);
    // The same, with the names of the result's columns as the statement gives them.
    bool query(const QString& sql, const QList<SqlValue>& values, QList<QList<SqlValue>>& rows,
               QStringList& columns, QString& error);
    // Runs one statement whose rows do not matter (BEGIN, COMMIT, an UPDATE) with `values` bound.
    bool exec(const QString& sql, const QList<SqlValue>& values, QString& error);
    bool exec(const QString& sql, QString& error) { return exec(sql, {}, error); }
    // Rows that the last INSERT, UPDATE or DELETE changed.
    int changes() const;
    // Rows changed since the connection opened, those changed by triggers included.
    qint64 totalChanges() const;
    // The last failure was a lock held by another program past the wait: reading again later may succeed.
    bool lastFailureWasBusy() const { return m_lastBusy; }
    // A read-only connection found a write that a crashed writer left half done, and rolled it back the way
    // the agent's own next access does, before it read.
    bool recoveredInterruptedWrite() const { return m_recovered; }

private:
    static int waitForLock(void* connection, int attempt);
    sqlite3* open(QString& error) const;
    bool rollBackInterruptedWrite(QString& error);
    bool step(const QString& sql, const QList<SqlValue>& values, QList<QList<SqlValue>>& rows, QString& error,
              QStringList* columns = nullptr);
    // Prepares `sql`, binds `values` and hands each row to `use`; see query().
    bool stepRows(const QString& sql, const QList<SqlValue>& values,
                  const std::function<void(sqlite3_stmt*, int columns)>& use, QString& error,
                  QStringList* columns = nullptr);
    // After a statement failed: when the failure was a write a crashed program left half done, rolls it back,
    // reopens the connection (and the transaction it was in) and returns true, for the statement to run
    // again. False for any other failure, and when the roll-back failed (the reason then in `error`).
    bool recoveredForRetry(QString& error);

    QString m_path;
    Access m_access;
    sqlite3* m_db = nullptr;
    QString m_openError;
    std::function<void()> m_waitNotice;
    qint64 m_waitStartedMs = 0;
    bool m_lastBusy = false;
    bool m_recoveryTried = false;
    bool m_recovered = false;
};

} // namespace corvane
