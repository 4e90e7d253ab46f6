#include "session/WorkstationReader.h"

#include "agent/AgentPaths.h"
#include "agent/InvokerLog.h"
#include "agent/WorkstationShare.h"
#include "base/AgentFile.h"
#include "base/OffThread.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskList.h"
#include "tasklist/TaskListExport.h"
#include "tasklist/TaskListLoader.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>

namespace corvane {

namespace {

// The progress texts of the task list's read count as progress, and go nowhere else.
class ProgressFeedback final : public Feedback {
public:
    explicit ProgressFeedback(const ReadProgress& progress)
        : m_progress(progress) {}
    void setStatus(const QString&) override { m_progress.beat(); }

private:
    const ReadProgress& m_progress;
};

void readTaskList(const AgentPaths& paths, const WorkstationQuery& query, const ReadProgress& progress,
                  WorkstationResult& result) {
    ProgressFeedback feedback(progress);
    TaskListSnapshot snapshot = loadTaskTable(paths, feedback);
    if (snapshot.databaseRead == DatabaseRead::Missing) {
        result.error = kDatabaseMissingMessage + paths.database();
        return;
    }
    snapshot.rows = buildTaskRows(snapshot.table, paths.descriptorFolder(), [&](const TaskRow& row) {
        if (row.descriptorError.isEmpty()) // a descriptor that did not answer is no progress
            progress.beat();
    });
    result.problems = readProblems(snapshot);
    if (query.filter) {
        snapshot.rows.removeIf([&](const TaskRow& row) { return !query.filter->keeps(row); });
        snapshot.rows.squeeze();
    }
    result.rows = std::move(snapshot.rows);
}

void readLog(const AgentPaths& paths, const QDate& date, WorkstationResult& result) {
    QString error;
    switch (readInvokerLog(paths.invokerLog(), date, result.lines, error)) {
    case AgentFileStatus::Missing:
        result.error = kLogMissingText + QStringLiteral(": ") + paths.invokerLog();
        break;
    case AgentFileStatus::Unreadable:
        result.error =
            kLogMissingText + QStringLiteral(": ") + paths.invokerLog() + QStringLiteral(": ") + error;
        break;
    case AgentFileStatus::Read:
        break;
    }
}

} // namespace

void addWorkstation(QList<Workstation>& workstations, const Workstation& workstation) {
    const auto same = [&workstation](const Workstation& listed) {
        return listed.remote == workstation.remote &&
               listed.root.compare(workstation.root,
                                   workstation.remote ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
    };
    if (std::none_of(workstations.cbegin(), workstations.cend(), same))
        workstations.append(workstation);
}

bool workstationList(const QString& text, const WorkstationMapping& map, QList<Workstation>& workstations,
                     QString& error) {
    QList<Workstation> read;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString name = lines.at(i).trimmed();
        if (name.isEmpty())
            continue;
        Workstation workstation;
        QString why;
        if (!map(name, workstation, why)) {
            error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return false;
        }
        addWorkstation(read, workstation);
    }
    workstations = read;
    return true;
}

bool readNameList(const QString& path, QString& text, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Can't read %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    const QByteArray content = file.read(kMaxNameListBytes + 1);
    if (content.size() > kMaxNameListBytes) {
        error = QStringLiteral("%1 is larger than a list of names may be (%2 MB)")
                    .arg(QDir::toNativeSeparators(path))
                    .arg(kMaxNameListBytes / (1024 * 1024));
        return false;
    }
    text = QString::fromUtf8(content);
    return true;
}

QStringList workstationExportHeader() {
    return QStringList{QStringLiteral("Workstation")} + exportHeader();
}

QStringList workstationExportCells(const Workstation& workstation, const TaskRow& row) {
    return QStringList{workstation.name} + exportCells(row);
}

bool TaskFilter::keeps(const TaskRow& row) const {
    const QLatin1StringView activeText("Active");
    if (errorReschedule && row.reschedule != QLatin1String("Yes:Error"))
        return false;
    if (active && !row.database.startsWith(activeText, Qt::CaseInsensitive) &&
        !row.sdclient.startsWith(activeText, Qt::CaseInsensitive))
        return false;
    if (notCompleted && row.database.compare(QLatin1String("Completed"), Qt::CaseInsensitive) == 0)
        return false;
    if (text.isEmpty() || row.key.mid(1).contains(text, Qt::CaseInsensitive))
        return true;
    for (int column = 1; column <= 6; ++column) {
        if (fullColumnText(row, column).contains(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString workstationLabel(const Workstation& workstation) {
    return workstation.root.isEmpty() ? workstation.name : QDir::toNativeSeparators(workstation.root);
}

ReadProgress::ReadProgress()
    : m_last(std::make_shared<std::atomic<qint64>>(nowMs())) {}

void ReadProgress::beat() const {
    m_last->store(nowMs());
}

qint64 ReadProgress::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

WorkstationResult readWorkstation(const Workstation& workstation, const WorkstationQuery& query,
                                  const ReadProgress& progress) {
    WorkstationResult result;
    if (!workstation.root.isEmpty() && !shareReachable(workstation.root, result.error))
        return result;
    progress.beat();
    const AgentPaths paths(workstation.root); // looks for the agent's program folder on the share
    progress.beat();
    switch (query.what) {
    case WorkstationQuery::What::TaskList:
        readTaskList(paths, query, progress, result);
        break;
    case WorkstationQuery::What::Log:
        readLog(paths, query.date, result);
        break;
    case WorkstationQuery::What::History: {
        QString error;
        if (!readHistory(paths.journal(), query.taskId, result.entries, error))
            result.error = QStringLiteral("Can't read the journal of changes: ") + error;
        break;
    }
    }
    return result;
}

WorkstationReader::WorkstationReader(QObject* parent)
    : QObject(parent)
    , m_deadlineMs(kAgentFileDeadlineMs) {
    connect(&m_watch, &QTimer::timeout, this, &WorkstationReader::watch);
}

void WorkstationReader::start(const QList<Workstation>& workstations, const WorkstationQuery& query) {
    cancel();
    ++m_search;
    m_workstations = workstations;
    m_query = query;
    m_next = 0;
    m_done = 0;
    m_total = int(workstations.size());
    m_running.clear();
    emit progressed(0, m_total);
    if (m_total == 0) {
        emit finished(false);
        return;
    }
    m_watch.start(std::clamp(m_deadlineMs / 4, 10, 250));
    startMore();
}

void WorkstationReader::cancel() {
    if (!isRunning())
        return;
    ++m_search;
    m_total = 0;
    m_running.clear();
    m_workstations.clear();
    m_watch.stop();
    emit finished(true);
}

void WorkstationReader::startMore() {
    while (isRunning() && m_running.size() < kReadsAtOnce && m_next < m_total) {
        Running running{m_next++, ReadProgress()};
        m_running.append(running);
        const quint64 search = m_search;
        const int index = running.index;
        const bool started = runOnThreadOfItsOwn(
            this,
            [workstation = m_workstations.at(index), query = m_query, progress = running.progress] {
                return readWorkstation(workstation, query, progress);
            },
            [this, search, index](WorkstationResult result) {
                if (search == m_search)
                    ended(index, result);
            });
        if (!started) {
            WorkstationResult failed;
            failed.error = QStringLiteral("no thread could be started to read it");
            ended(index, failed);
        }
    }
}

void WorkstationReader::ended(int index, const WorkstationResult& result) {
    const auto running = std::find_if(m_running.begin(), m_running.end(),
                                      [index](const Running& r) { return r.index == index; });
    if (running == m_running.end())
        return; // given up already
    m_running.erase(running);
    ++m_done;
    const quint64 search = m_search;
    emit workstationRead(index, result);
    if (search != m_search)
        return; // cancelled, or another search started
    emit progressed(m_done, m_total);
    if (search != m_search)
        return;
    if (m_done < m_total) {
        startMore();
        return;
    }
    m_total = 0;
    m_workstations.clear();
    m_watch.stop();
    emit finished(false);
}

void WorkstationReader::watch() {
    const qint64 now = ReadProgress::nowMs();
    QList<int> late;
    for (const Running& running : std::as_const(m_running)) {
        if (now - running.progress.lastBeatMs() > m_deadlineMs)
            late << running.index;
    }
    const quint64 search = m_search;
    for (int index : late) {
        if (search != m_search)
            return;
        WorkstationResult result;
        result.error = didNotAnswerWithin(m_deadlineMs);
        ended(index, result);
    }
}

} // namespace corvane
