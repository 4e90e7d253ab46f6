#pragma once

#include "agent/AgentPaths.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace corvane::fake {

// One operation as the agent stores it; an absent value leaves out the InvokerState or ReschedulePolicy row.
struct Operation {
    QString filename;
    std::optional<QString> state;
    std::optional<QString> periodicReschedule;
    std::optional<QString> rescheduleTimeT;
};

// One "task" element of the scheduled-task file; an absent attribute is left out.
struct ScheduledTask {
    std::optional<QString> taskid;
    std::optional<QString> state;
    std::optional<QString> time;
};

// Beside a copy of corvane-fake-agent: the command line it runs when started without arguments.
inline const QString kBakedArgumentsSuffix = QStringLiteral(".args");

// How the stand-in synchroniser behaves.
struct SyncOptions {
    int delayMs = 400;       // pause between two log lines
    bool neverStop = false;  // never writes its "[STOP]" line
    bool failAtOnce = false; // exits at once, writing nothing
    bool freshLog = false;   // starts the log afresh instead of appending
    bool chatter = false; // also writes each log line to its standard output and a note to its error output
    int floodBytesPerSecond = 0; // after its usual lines, fills the log at this rate...
    int floodSeconds = 0;        // ...for this long, before its end line
    int holdMs = 0;              // stays running this long after its last line
    QString wipeLog;             // "empty" or "delete": does so to its log halfway through the run
    QString recordStartup;       // a file to write how it was started (Windows: its window's show state)
    bool handOver = false;       // starts a copy of itself to do the work, and exits 0 at once
    std::optional<quint32> exitStatus; // exits at once with this status, writing nothing
};

// Writes a simulated agent's files below a root folder, at the places AgentPaths gives. Used by the tests,
// the demo and `corvane-fake-agent`. Every writer returns false and sets error() when it fails.
class AgentTree {
public:
    explicit AgentTree(const QString& root);

    QString root() const { return m_root; }
    const AgentPaths& paths() const { return m_paths; }
    QString error() const { return m_error; }

    // A database with the agent's four tables (and the extra columns a real agent has), no rows.
    bool createDatabase();
    bool addOperation(const Operation& operation);
    bool addPackageState(const QString& task, const QString& package, int state);
    // Runs any SQL on the database (several statements allowed).
    bool execute(const QString& sql);

    // A package descriptor named `operationFile` carrying `packageName`, saved in UTF-8.
    bool writeDescriptor(const QString& operationFile, const QString& packageName);
    bool writeScheduledTasks(const QList<ScheduledTask>& tasks);
    bool writeInvokerLog(const QByteArray& content);
    // Installs the stand-in synchroniser at the synchroniser's path: a copy of `program` (the
    // corvane-fake-agent executable) that finds its command line, `synchronise` on this tree with
    // `options`, in the file beside it (kBakedArgumentsSuffix).
    bool installSynchroniser(const QString& program, const SyncOptions& options);
    // Appends to a file as a writer that shares it would: open, append, close.
    bool appendFile(const QString& path, const QByteArray& content);
    // Any file below the root, folders created as needed.
    bool writeFile(const QString& path, const QByteArray& content);

    // The text of a descriptor as the agent writes it.
    static QByteArray descriptorText(const QString& packageName);
    // Agent time (seconds since 01/01/1970 00:00, wall clock) of a moment.
    static qint64 agentTime(const QDateTime& moment);

private:
    QString m_root;
    AgentPaths m_paths;
    QString m_error;
};

// What the stand-in synchroniser does: appends stamped lines to the synchroniser log over a few seconds,
// adds new operations with their descriptors, and ends with a "[STOP]" line.
bool runStandInSynchroniser(const QString& root, const SyncOptions& options, QString& error);

// Takes an exclusive lock on the agent database below `root`, prints "locked" on standard output, and keeps
// it until standard input closes. `halfWritten`: with a write under way in its journal, so that a kill leaves
// the interrupted write that a crashed writer leaves.
bool holdDatabaseLock(const QString& root, bool halfWritten, QString& error);

// Appends `lines` stamped lines to the log at `path`, one every `intervalMs`, through one handle held open
// for the whole run with the sharing the agent's logger uses; prints "open" once the file is open.
bool appendToHeldOpenLog(const QString& path, int lines, int intervalMs, QString& error);

// A log line stamped as the agent stamps them: "Tue, 08 Dec 2026 16:50:01 text".
QByteArray stampedLine(const QDateTime& at, const QString& text);

// A realistic agent below `root`: a dozen tasks showing every kind of row, their descriptors, the
// scheduled-task file, an invoker log with lines of earlier days and of `now`'s day, and the log of an
// earlier synchronisation. With a `synchroniserProgram` (corvane-fake-agent) the stand-in synchroniser is
// installed.
bool writeDemoAgent(const QString& root, const QDateTime& now, QString& error,
                    const QString& synchroniserProgram = QString(),
                    const SyncOptions& syncOptions = SyncOptions());

} // namespace corvane::fake
