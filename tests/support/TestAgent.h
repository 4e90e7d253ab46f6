#pragma once

#include "AgentTree.h"
#include "TimeBounds.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

namespace corvane::test {

// Holds the folder, so that it exists before the agent tree below it is set up.
struct TemporaryRoot {
    QTemporaryDir dir;
};

// A simulated agent in a temporary folder that disappears with the object.
class TestAgent : private TemporaryRoot, public fake::AgentTree {
public:
    TestAgent();
    // Every row of a table as "col|col|..." texts, ordered by rowid: for before/after comparisons.
    QStringList dump(const QString& table) const;
    // The four agent tables' rows, table by table.
    QStringList dumpAll() const;
    // SQLite's own verdict on the database file: "ok" when it is sound.
    QString integrityCheck() const;
    // Every file of the agent below the root with a hash of its bytes: what Corvane may not change behind the
    // agent's back. Corvane's own folder (ProgramData/Corvane) is left out.
    QMap<QString, QByteArray> snapshot() const;
};

// Another process holding an exclusive lock on an agent database, as a busy agent does, for as long as the
// object lives.
class DatabaseLock {
public:
    // `halfWritten`: the holder also has a write under way, which kill() interrupts as a crash would.
    explicit DatabaseLock(const fake::AgentTree& agent, bool halfWritten = false);
    ~DatabaseLock();
    bool isHeld() const { return m_held; }
    // Ends the holder at once, without a word to SQLite; true once it has gone.
    bool kill();

private:
    QProcess m_process;
    bool m_held = false;
};

} // namespace corvane::test
