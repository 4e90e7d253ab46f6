#pragma once

#include "actions/Journal.h"
#include "agent/Workstation.h"
#include "tasklist/TaskRow.h"

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace corvane {

// Maps a name a technician gave to the workstation it stands for; false with the reason when it names none.
// workstationByName is the one for real names; tests map names to folders.
using WorkstationMapping = std::function<bool(const QString& name, Workstation& workstation, QString& error)>;

// Adds `workstation` to `workstations` unless they hold it already: a machine's name whatever its case, a
// folder as written.
void addWorkstation(QList<Workstation>& workstations, const Workstation& workstation);

// The workstations of a list of names, one a line: surrounding space and blank lines are left out, and a
// workstation named twice is read once. False, with the line and its reason in `error`, at the first name
// that `map` refuses.
bool workstationList(const QString& text, const WorkstationMapping& map, QList<Workstation>& workstations,
                     QString& error);

// Reads a list of names from the file at `path` (at most kMaxNameListBytes); false with the reason.
constexpr qint64 kMaxNameListBytes = 4 * 1024 * 1024;
bool readNameList(const QString& path, QString& text, QString& error);

// The tasks of several workstations as exported: the list's export columns after a "Workstation" column.
QStringList workstationExportHeader();
QStringList workstationExportCells(const Workstation& workstation, const TaskRow& row);

// Which tasks a search of several workstations keeps: each choice given narrows it, none keeps all.
struct TaskFilter {
    QString text;                 // in a column's text, whatever its case
    bool errorReschedule = false; // rescheduled after an error ("Yes:Error")
    bool active = false;          // a state column starts with "Active"
    bool notCompleted = false;    // the invoker state is not "Completed"

    bool keeps(const TaskRow& row) const;
};

// What to read on each workstation.
struct WorkstationQuery {
    enum class What { TaskList, Log, History };
    What what = What::TaskList;
    // TaskList: only the rows the filter keeps are handed back, the others are dropped as soon as they are
    // read.
    std::optional<TaskFilter> filter;
    QDate date;                    // Log: the day whose part of the invoker log is read
    std::optional<QString> taskId; // History: only this task's entries
};

// What one workstation gave. `error` set: it could not be read, and nothing else is set. Otherwise what the
// query asked for, with `problems` saying what keeps it from being whole (the task list's read problems).
struct WorkstationResult {
    QString error;
    QStringList problems;
    QList<TaskRow> rows;
    QStringList lines;
    QList<JournalEntry> entries;
};

// How a workstation is named to the technician beside a reason: its share, or the folder standing in for
// it ("\\WS0123\C$: access is denied").
QString workstationLabel(const Workstation& workstation);

// A read tells its reader that it made progress, from the thread it runs on.
class ReadProgress {
public:
    ReadProgress();
    void beat() const;
    // Milliseconds of a steady clock when beat() was last called.
    qint64 lastBeatMs() const { return m_last->load(); }
    static qint64 nowMs();

private:
    std::shared_ptr<std::atomic<qint64>> m_last;
};

// Reads one workstation as `query` asks, on the calling thread, which it may hold for as long as the share
// does not answer: the folder first, then the agent's paths and files below it. Reports progress between
// steps and after each row built.
WorkstationResult readWorkstation(const Workstation& workstation, const WorkstationQuery& query,
                                  const ReadProgress& progress);

// Reads many workstations, at most kReadsAtOnce at a time, each on a thread of its own, so that a share that
// hangs holds up nothing but its own read. A workstation whose read makes no progress for the deadline is
// given up with "did not answer within N s" and its slot goes to the next one; its thread is left to end
// when the share answers, and what it then reads is dropped. Results come in the order reads end, each with
// the workstation's place in the list; the reader keeps none of them.
class WorkstationReader : public QObject {
    Q_OBJECT

public:
    static constexpr int kReadsAtOnce = 8;

    explicit WorkstationReader(QObject* parent = nullptr);

    // How long a read may go without progress; kAgentFileDeadlineMs unless set.
    void setDeadlineMs(int ms) { m_deadlineMs = ms; }
    int deadlineMs() const { return m_deadlineMs; }

    // Starts reading `workstations` as `query` asks; a search still running is cancelled first.
    void start(const QList<Workstation>& workstations, const WorkstationQuery& query);
    // Starts no further read and drops what the running ones give; `finished` follows at once.
    void cancel();
    bool isRunning() const { return m_total > 0; }

signals:
    void workstationRead(int index, const WorkstationResult& result);
    void progressed(int done, int total);
    // Every workstation was read or given up, or the search was cancelled.
    void finished(bool cancelled);

private:
    struct Running {
        int index = 0;
        ReadProgress progress;
    };
    void startMore();
    void ended(int index, const WorkstationResult& result);
    void watch();

    QList<Workstation> m_workstations;
    WorkstationQuery m_query;
    int m_deadlineMs;
    int m_next = 0;
    int m_done = 0;
    int m_total = 0;
    quint64 m_search = 0; // results of an earlier search are dropped
    QList<Running> m_running;
    QTimer m_watch;
};

} // namespace corvane
