// corvanectl: the agent's tasks and logs from the command line, through the same code as the window.
#include "actions/CheckRule.h"
#include "actions/Journal.h"
#include "actions/TaskActions.h"
#include "actions/Undo.h"
#include "agent/AgentPaths.h"
#include "agent/ClientDatabase.h"
#include "agent/InvokerLog.h"
#include "base/Clock.h"
#include "base/TextLines.h"
#include "session/WorkstationReader.h"
#include "sync/PolicySyncRun.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskList.h"
#include "tasklist/TaskListExport.h"
#include "tasklist/TaskListLoader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTextStream>

#include <map>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <algorithm>
#include <csignal>
#endif

using namespace corvane;

namespace {

enum ExitStatus { kSuccess = 0, kDataFailure = 1, kUsageError = 2 };

const QString kDescription = QStringLiteral(
    "Shows and steers the software distribution of the local management agent.\n\n"
    "Commands:\n"
    "  list [--json | --csv]            every task, as the main window lists it\n"
    "  log [--date YYYY-MM-DD]          today's (or that day's) part of the invoker log\n"
    "  stop [--dry-run] TASKID...       Stop Install on the named tasks\n"
    "  reinstall [--dry-run] TASKID...  Reinstall the named tasks\n"
    "  sync [--follow] [--timeout SECONDS]\n"
    "                                   Policy Sync: start the synchroniser and follow its log, or\n"
    "                                   (--follow) join the one running and follow its log from now\n"
    "  history [--json] [--task ID]     every change Corvane made to the agent database, newest first\n"
    "  undo [--dry-run] ID...           take back the changes of those history entries\n\n"
    "Several workstations: --computer NAME (again for each), --computers FILE (one name a line) or\n"
    "--agent-root DIR given more than once read list, log and history on each, at most 8 at a time, and\n"
    "print the rows of all, each with its workstation first. A workstation that cannot be read is named\n"
    "on standard error with the reason; the others are printed all the same.");

// Progress goes nowhere unless asked for; messages go to standard error.
class ConsoleFeedback : public Feedback {
public:
    ConsoleFeedback(QTextStream& err, bool verbose)
        : m_err(err)
        , m_verbose(verbose) {}
    void setStatus(const QString& text) override {
        if (m_verbose && !text.isEmpty())
            m_err << visibleText(text) << Qt::endl;
    }
    // Says something on standard error, whatever --verbose says.
    void showMessage(const QString& text) {
        ++m_messages;
        m_err << visibleText(text, u"\n") << Qt::endl;
    }
    int messages() const { return m_messages; }

private:
    int m_messages = 0;
    QTextStream& m_err;
    bool m_verbose;
};

// A JSON string as QJsonDocument writes it. A list prints thousands of rows: a text of plain ASCII is
// written as it is, and only one with anything to escape goes through QJsonDocument.
void appendJsonString(QString& json, const QString& text) {
    const bool plain = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x80 && c != QLatin1Char('"') && c != QLatin1Char('\\');
    });
    if (plain) {
        json += QLatin1Char('"');
        json += text;
        json += QLatin1Char('"');
        return;
    }
    const QByteArray escaped = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    json += QString::fromUtf8(escaped.sliced(1, escaped.size() - 2)); // without the array's brackets
}

// One row as QJsonDocument writes an object of an indented array, its keys in order, without the line
// break after it; with its workstation's name as the last key when `workstation` is given.
void appendRowJson(QString& json, const TaskRow& row, const QString* workstation = nullptr) {
    const std::pair<QLatin1StringView, QString> fields[] = {
        {QLatin1StringView("application"), row.application},
        {QLatin1StringView("colour"), colourName(row.colour)},
        {QLatin1StringView("database"), row.database},
        {QLatin1StringView("icon"), iconName(row.icon)},
        {QLatin1StringView("install"), row.install},
        {QLatin1StringView("key"), row.key},
        {QLatin1StringView("kind"), kindLetter(row)},
        {QLatin1StringView("record"), row.record},
        {QLatin1StringView("reschedule"), row.reschedule},
        {QLatin1StringView("rescheduleDate"), row.rescheduleDate},
        {QLatin1StringView("sdclient"), row.sdclient},
        {QLatin1StringView("tag"), tagName(row.tag)},
        {QLatin1StringView("workstation"), workstation ? *workstation : QString()},
    };
    json += QLatin1StringView("    {\n");
    const QLatin1StringView last = workstation ? QLatin1StringView("workstation") : QLatin1StringView("tag");
    for (const auto& [key, value] : fields) {
        json += QLatin1StringView("        \"");
        json += key;
        json += QLatin1StringView("\": ");
        appendJsonString(json, value);
        json += key == last ? QLatin1StringView("\n") : QLatin1StringView(",\n");
        if (key == last)
            break;
    }
    json += QLatin1StringView("    }");
}

// Writes the rows as QJsonDocument writes an array of one object per row, indented, its keys in order. A
// piece at a time: a list of thousands of rows is never one text.
void printRowsJson(QTextStream& out, const QList<TaskRow>& rows) {
    constexpr qsizetype kPiece = 64 * 1024;
    QString json = QStringLiteral("[\n");
    json.reserve(kPiece + 4096);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i > 0)
            json += QLatin1StringView(",\n");
        appendRowJson(json, rows.at(i));
        if (json.size() >= kPiece) {
            out << json;
            json.resize(0); // keeps its room
        }
    }
    out << json << (rows.isEmpty() ? QLatin1StringView("]\n") : QLatin1StringView("\n]\n"));
}

QStringList tableHeader() {
    return exportHeader() << QStringLiteral("Icon") << QStringLiteral("Colour");
}

// A row's cells in the table: the task id, the list's six captioned columns, then icon and colour.
QStringList tableCells(const TaskRow& row) {
    QStringList cells{cappedCell(row.key.mid(1))};
    for (int column = 1; column < kTaskColumns.size(); ++column)
        cells << row.columnText(column);
    cells << iconName(row.icon) << colourName(row.colour);
    for (QString& cell : cells)
        cell = visibleText(cell);
    return cells;
}

// Lines of cells, the header first, as an aligned table.
void printAligned(QTextStream& out, const QList<QStringList>& lines) {
    QList<qsizetype> widths(lines.first().size(), 0);
    for (const QStringList& cells : lines) {
        for (int i = 0; i < cells.size(); ++i)
            widths[i] = std::max(widths[i], cells.at(i).size());
    }
    for (const QStringList& cells : lines) {
        QString line;
        for (int i = 0; i < cells.size(); ++i)
            line += cells.at(i).leftJustified(i + 1 < cells.size() ? widths[i] + 2 : 0);
        out << line.trimmed() << '\n';
    }
}

// The rows as an aligned table.
void printTable(QTextStream& out, const QList<TaskRow>& rows) {
    QList<QStringList> lines{tableHeader()};
    for (const TaskRow& row : rows)
        lines << tableCells(row);
    printAligned(out, lines);
}

// Flushes what `out` holds and turns a write that failed (a full disk, a closed pipe) into a failure: a
// script must not take a list or log it never got for a whole one.
int withOutputWritten(QTextStream& out, QTextStream& err, int status) {
    out.flush();
    if (out.status() == QTextStream::Ok)
        return status;
    QIODevice* device = out.device();
    const QString reason = device ? device->errorString() : QStringLiteral("unknown error");
    err << "can't write the output: " << reason << Qt::endl;
    return kDataFailure;
}

enum class ListFormat { Table, Json, Csv };

int runList(const AgentPaths& paths, ListFormat format, QTextStream& out, QTextStream& err,
            Feedback& feedback) {
    const TaskListSnapshot snapshot = loadTaskList(paths, feedback);
    if (format == ListFormat::Csv) {
#ifdef Q_OS_WIN
        // CSV lines end with CR LF already; a text-mode stdout would add another CR.
        out.flush();
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        out << taskListCsv(snapshot.rows);
    } else if (format == ListFormat::Json) {
        printRowsJson(out, snapshot.rows);
    } else {
        printTable(out, snapshot.rows);
    }
    if (withOutputWritten(out, err, kSuccess) != kSuccess)
        return kDataFailure;
    if (snapshot.databaseRead == DatabaseRead::Missing) {
        err << kDatabaseMissingMessage << paths.database() << Qt::endl;
        return kDataFailure;
    }
    // The rows are printed; a script still learns that the list is not whole.
    for (const QString& problem : readProblems(snapshot))
        err << visibleText(problem) << Qt::endl;
    return snapshot.databaseRead == DatabaseRead::Read && snapshot.database.rowProblems.isEmpty() &&
                   snapshot.table.overflow() == 0
               ? kSuccess
               : kDataFailure;
}

int runLog(const AgentPaths& paths, const QDate& date, QTextStream& out, QTextStream& err) {
    QStringList lines;
    QString error;
    switch (readInvokerLog(paths.invokerLog(), date, lines, error)) {
    case AgentFileStatus::Missing:
        err << kLogMissingText << Qt::endl;
        return kDataFailure;
    case AgentFileStatus::Unreadable:
        err << kLogMissingText << ": " << paths.invokerLog() << ": " << error << Qt::endl;
        return kDataFailure;
    case AgentFileStatus::Read:
        break;
    }
    for (const QString& line : lines)
        out << visibleText(line, u"\t") << '\n';
    return withOutputWritten(out, err, kSuccess);
}

// One task's line: its id, package and what happens to it, tab-separated, each shown as a terminal should
// get it.
QString outcomeLine(const TaskOutcome& task) {
    return visibleText(task.taskId) + QLatin1Char('\t') + visibleText(task.packageName) + QLatin1Char('\t') +
           visibleText(task.what());
}

// Stop Install or Reinstall on the named tasks: their rows stand for the checked rows, in list order.
// Rows the window would not let be checked (not a package) are refused and left alone. Each task's line is
// printed as soon as its transaction ends, so that a run cut short names exactly the tasks it changed; then
// the summary. With `dryRun` the same lines are the preview and nothing is changed; the exit status is the
// one the real run would give.
int runAction(const AgentPaths& paths, TaskAction action, const QStringList& taskIds, bool dryRun,
              QTextStream& out, ConsoleFeedback& feedback) {
    const TaskListSnapshot snapshot = loadTaskList(paths, feedback);
    if (snapshot.databaseRead == DatabaseRead::Failed)
        feedback.showMessage(QStringLiteral("Can't read the agent database: ") + snapshot.databaseError);

    const QSet<QString> named(taskIds.cbegin(), taskIds.cend());
    QList<CheckedRow> rows;
    QSet<QString> found;
    for (const TaskRow& row : snapshot.rows) {
        const QString taskId = row.key.mid(1);
        if (!named.contains(taskId))
            continue;
        found.insert(taskId);
        // Named on the command line stands for checked in the window.
        if (applyCheckRule(row.tag, true).checked)
            rows.append({row.key, true, row.application});
        else
            feedback.showMessage(
                QStringLiteral("%1: not a package task (%2), left alone").arg(taskId, row.application));
    }
    for (const QString& taskId : taskIds) {
        if (!found.contains(taskId))
            feedback.showMessage(taskId + QStringLiteral(": ") + kTaskNotFoundMessage);
    }
    const QList<ActionTarget> targets = checkedTargets(rows, snapshot.table);
    if (targets.isEmpty()) {
        feedback.showMessage(kNothingCheckedMessage);
        return kDataFailure;
    }
    const int messagesBefore = feedback.messages();
    const auto printOutcome = [&out, &feedback, dryRun](const TaskOutcome& task) {
        out << outcomeLine(task) << Qt::endl; // flushed: the line stands once the task's transaction ended
        if (!dryRun &&
            (task.kind == TaskOutcome::Kind::Refused || task.kind == TaskOutcome::Kind::NotChanged))
            feedback.showMessage(task.reason);
    };
    ActionReport report;
    if (dryRun) {
        report = planAction(action, targets, paths.database());
        for (const TaskOutcome& task : report.tasks)
            printOutcome(task);
    } else {
        report =
            corvane::runAction(action, targets, paths.database(), paths.journal(), feedback, printOutcome);
    }
    out << report.summary() << Qt::endl;
    return messagesBefore == 0 && report.allChanged() ? kSuccess : kDataFailure;
}

QJsonValue jsonValue(const SqlValue& value) {
    switch (value.type) {
    case SqlValue::Type::Null:
        return QJsonValue::Null;
    case SqlValue::Type::Integer:
        return value.bytes.toLongLong();
    case SqlValue::Type::Real:
        return value.real;
    case SqlValue::Type::Text:
        return value.text();
    case SqlValue::Type::Blob:
        break;
    }
    return QJsonObject{{QStringLiteral("blob"), QString::fromLatin1(value.bytes.toHex())}};
}

QJsonValue jsonRow(const QStringList& columns, const std::optional<QList<SqlValue>>& values) {
    if (!values)
        return QJsonValue::Null;
    QJsonObject row;
    for (int c = 0; c < columns.size(); ++c)
        row.insert(columns.at(c), jsonValue(values->value(c)));
    return row;
}

// One entry of the journal with every row's values before and after.
QJsonObject historyJson(const JournalEntry& entry) {
    QJsonArray rows;
    for (const RowChange& change : entry.rows)
        rows.append(QJsonObject{{QStringLiteral("table"), change.table},
                                {QStringLiteral("rowid"), change.rowid},
                                {QStringLiteral("before"), jsonRow(change.columns, change.before)},
                                {QStringLiteral("after"), jsonRow(change.columns, change.after)}});
    QJsonObject object{{QStringLiteral("id"), entry.id},
                       {QStringLiteral("time"), entry.time.toString(Qt::ISODate)},
                       {QStringLiteral("user"), entry.user},
                       {QStringLiteral("machine"), entry.machine},
                       {QStringLiteral("action"), entry.action},
                       {QStringLiteral("task"), entry.taskId},
                       {QStringLiteral("operation"), entry.operationFile},
                       {QStringLiteral("package"), entry.packageName},
                       {QStringLiteral("status"), entry.status},
                       {QStringLiteral("rows"), rows}};
    if (entry.undoes)
        object.insert(QStringLiteral("undoes"), entry.undoes);
    return object;
}

// One entry of the journal as a line of the history's table, tab-separated.
QString historyLine(const JournalEntry& entry) {
    return QString::number(entry.id) + QLatin1Char('\t') + entry.time.toString(Qt::ISODate) +
           QLatin1Char('\t') + visibleText(entry.user) + QLatin1Char('\t') + entry.action +
           QLatin1Char('\t') + visibleText(entry.taskId) + QLatin1Char('\t') +
           visibleText(entry.packageName) + QLatin1Char('\t') + visibleText(describeChanges(entry)) +
           QLatin1Char('\t') + entry.status + QLatin1Char('\n');
}

// Every entry of the journal, newest first: a table, or JSON with every row's values before and after.
int runHistory(const AgentPaths& paths, bool json, const std::optional<QString>& taskId, QTextStream& out,
               QTextStream& err) {
    QList<JournalEntry> entries;
    QString error;
    if (!readHistory(paths.journal(), taskId, entries, error)) {
        err << "Can't read the journal of changes: " << visibleText(error) << Qt::endl;
        return kDataFailure;
    }
    if (json) {
        QJsonArray array;
        for (const JournalEntry& entry : entries)
            array.append(historyJson(entry));
        out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    } else {
        for (const JournalEntry& entry : entries)
            out << historyLine(entry);
    }
    out.flush();
    return kSuccess;
}

// Undo of history entries: each entry's line as its transaction ends, then the summary.
int runUndoCommand(const AgentPaths& paths, const QList<qint64>& ids, bool dryRun, QTextStream& out,
                   ConsoleFeedback& feedback) {
    const auto printOutcome = [&out, &feedback, dryRun](const TaskOutcome& task) {
        out << outcomeLine(task) << Qt::endl;
        if (!dryRun &&
            (task.kind == TaskOutcome::Kind::Refused || task.kind == TaskOutcome::Kind::NotChanged))
            feedback.showMessage(task.reason);
    };
    ActionReport report;
    if (dryRun) {
        report = planUndo(ids, paths.database(), paths.journal());
        for (const TaskOutcome& task : report.tasks)
            printOutcome(task);
    } else {
        report = runUndo(ids, paths.database(), paths.journal(), feedback, printOutcome);
    }
    out << report.summary() << Qt::endl;
    return report.allChanged() ? kSuccess : kDataFailure;
}

// Policy Sync from the command line: each new line of the synchroniser's log once, as it appears, then the
// summary as the last line.
int runSync(const AgentPaths& paths, bool follow, int timeoutSeconds, QTextStream& out, QTextStream& err,
            Feedback& feedback) {
    PolicySyncRun::Timing timing;
    timing.summaryHoldMs = 0;
    timing.timeoutMs = timeoutSeconds * 1000;
    PolicySyncRun run(paths, timing);
    QEventLoop loop;
    QObject::connect(&run, &PolicySyncRun::statusChanged, &loop,
                     [&](const QString& text) { feedback.setStatus(text); });
    QObject::connect(&run, &PolicySyncRun::passed, &loop, [&](const SyncPass& pass) {
        // A log started afresh starts the run's lines again: they are new, and printed.
        for (qsizetype i = 0; i < pass.lines.size(); ++i)
            out << visibleText(pass.lines.at(i).toString(), u"\t") << '\n';
        out.flush();
    });
    QObject::connect(&run, &PolicySyncRun::finished, &loop,
                     [&](PolicySyncRun::Outcome outcome, const QString& message) {
                         if (outcome == PolicySyncRun::Outcome::Completed) {
                             out << syncSummary(run.tally(), run.joined()) << Qt::endl;
                             loop.exit(kSuccess);
                         } else {
                             // What was written is counted all the same.
                             if (outcome == PolicySyncRun::Outcome::NoEndLine)
                                 out << syncSummary(run.tally(), run.joined()) << Qt::endl;
                             err << visibleText(message, u"\n") << Qt::endl;
                             if (outcome == PolicySyncRun::Outcome::Refused && run.runningSynchroniser())
                                 err << "corvanectl sync --follow follows it." << Qt::endl;
                             loop.exit(kDataFailure);
                         }
                     });
    QString error;
    if (!(follow ? run.follow(error) : run.start(error))) {
        err << error << Qt::endl;
        return kDataFailure;
    }
    return loop.exec();
}

// Reads every workstation as `query` asks, at most WorkstationReader::kReadsAtOnce at a time, and hands the
// result of each that was read to `print` in the order the workstations were given, as soon as those before
// it are handed over: what a workstation gave is kept only until then. A workstation that could not be read,
// or not whole, is named on standard error with the reason, in the same order. kDataFailure when one was.
int readWorkstations(const QList<Workstation>& workstations, const WorkstationQuery& query, int deadlineMs,
                     QTextStream& err, Feedback& feedback,
                     const std::function<void(const Workstation&, WorkstationResult&)>& print) {
    WorkstationReader reader;
    reader.setDeadlineMs(deadlineMs);
    std::map<int, WorkstationResult> waiting;
    int next = 0;
    bool whole = true;
    QEventLoop loop;
    QObject::connect(&reader, &WorkstationReader::workstationRead, &loop,
                     [&](int index, const WorkstationResult& result) {
                         waiting.emplace(index, result);
                         for (auto it = waiting.find(next); it != waiting.end(); it = waiting.find(next)) {
                             const Workstation& workstation = workstations.at(next++);
                             const QString label = workstationLabel(workstation) + QStringLiteral(": ");
                             if (!it->second.error.isEmpty()) {
                                 err << visibleText(label + it->second.error) << Qt::endl;
                                 whole = false;
                             } else {
                                 print(workstation, it->second);
                                 for (const QString& problem : std::as_const(it->second.problems))
                                     err << visibleText(label + problem) << Qt::endl;
                                 whole = whole && it->second.problems.isEmpty();
                             }
                             waiting.erase(it);
                         }
                     });
    QObject::connect(&reader, &WorkstationReader::progressed, &loop, [&](int done, int total) {
        feedback.setStatus(QStringLiteral("%1 of %2 workstations read").arg(done).arg(total));
    });
    QObject::connect(&reader, &WorkstationReader::finished, &loop, &QEventLoop::quit);
    reader.start(workstations, query);
    if (reader.isRunning())
        loop.exec();
    return whole ? kSuccess : kDataFailure;
}

// The list of every workstation: each row with its workstation's name first.
int runListOn(const QList<Workstation>& workstations, int deadlineMs, ListFormat format, QTextStream& out,
              QTextStream& err, Feedback& feedback) {
    const QStringList csvHeader = workstationExportHeader();
    const qsizetype csvHeaderSize = csvText(csvHeader, {}).size();
    QList<QStringList> table{QStringList{QStringLiteral("Workstation")} + tableHeader()};
    bool anyRow = false;
    if (format == ListFormat::Csv)
        out << csvText(csvHeader, {});
    else if (format == ListFormat::Json)
        out << QLatin1StringView("[\n");
    WorkstationQuery query;
    query.what = WorkstationQuery::What::TaskList;
    const int status =
        readWorkstations(workstations, query, deadlineMs, err, feedback,
                         [&](const Workstation& workstation, WorkstationResult& result) {
                             if (format == ListFormat::Csv) {
                                 QList<QStringList> cells;
                                 for (const TaskRow& row : std::as_const(result.rows))
                                     cells << workstationExportCells(workstation, row);
                                 out << QStringView(csvText(csvHeader, cells)).sliced(csvHeaderSize);
                             } else if (format == ListFormat::Json) {
                                 QString json;
                                 for (const TaskRow& row : std::as_const(result.rows)) {
                                     if (anyRow)
                                         json += QLatin1StringView(",\n");
                                     appendRowJson(json, row, &workstation.name);
                                     anyRow = true;
                                 }
                                 out << json;
                             } else {
                                 for (const TaskRow& row : std::as_const(result.rows))
                                     table << (QStringList{visibleText(workstation.name)} + tableCells(row));
                             }
                         });
    if (format == ListFormat::Json)
        out << (anyRow ? QLatin1StringView("\n]\n") : QLatin1StringView("]\n"));
    else if (format == ListFormat::Table)
        printAligned(out, table);
    return withOutputWritten(out, err, status);
}

// That day's part of every workstation's invoker log: each line with its workstation's name first.
int runLogOn(const QList<Workstation>& workstations, int deadlineMs, const QDate& date, QTextStream& out,
             QTextStream& err, Feedback& feedback) {
    WorkstationQuery query;
    query.what = WorkstationQuery::What::Log;
    query.date = date;
    const int status = readWorkstations(workstations, query, deadlineMs, err, feedback,
                                        [&](const Workstation& workstation, WorkstationResult& result) {
                                            const QString name =
                                                visibleText(workstation.name) + QLatin1Char('\t');
                                            for (const QString& line : std::as_const(result.lines))
                                                out << name << visibleText(line, u"\t") << '\n';
                                        });
    return withOutputWritten(out, err, status);
}

// Every workstation's journal of changes: each entry with its workstation's name first.
int runHistoryOn(const QList<Workstation>& workstations, int deadlineMs, bool json,
                 const std::optional<QString>& taskId, QTextStream& out, QTextStream& err,
                 Feedback& feedback) {
    WorkstationQuery query;
    query.what = WorkstationQuery::What::History;
    query.taskId = taskId;
    QJsonArray array;
    const int status =
        readWorkstations(workstations, query, deadlineMs, err, feedback,
                         [&](const Workstation& workstation, WorkstationResult& result) {
                             for (const JournalEntry& entry : std::as_const(result.entries)) {
                                 if (!json) {
                                     out << visibleText(workstation.name) << '\t' << historyLine(entry);
                                     continue;
                                 }
                                 QJsonObject object = historyJson(entry);
                                 object.insert(QStringLiteral("workstation"), workstation.name);
                                 array.append(object);
                             }
                         });
    if (json)
        out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    return withOutputWritten(out, err, status);
}

// The workstations named on the command line, in the order given: each --agent-root DIR, each
// --computer NAME and the names of each --computers FILE, each workstation once. False with the reason when
// a name or a file is not one.
bool commandLineWorkstations(const QCommandLineParser& parser, const QCommandLineOption& rootOption,
                             const QCommandLineOption& computerOption,
                             const QCommandLineOption& computersOption, QList<Workstation>& workstations,
                             QString& error) {
    const QStringList roots = parser.values(rootOption);
    const QStringList computers = parser.values(computerOption);
    const QStringList files = parser.values(computersOption);
    qsizetype root = 0;
    qsizetype computer = 0;
    qsizetype file = 0;
    for (const QString& option : parser.optionNames()) {
        if (rootOption.names().contains(option)) {
            addWorkstation(workstations, workstationAtRoot(roots.value(root++)));
        } else if (computerOption.names().contains(option)) {
            Workstation workstation;
            if (!workstationByName(computers.value(computer++), workstation, error))
                return false;
            addWorkstation(workstations, workstation);
        } else if (computersOption.names().contains(option)) {
            const QString path = files.value(file++);
            QString text;
            if (!readNameList(path, text, error))
                return false;
            QList<Workstation> listed;
            if (!workstationList(text, workstationByName, listed, error)) {
                error = path + QStringLiteral(": ") + error;
                return false;
            }
            for (const Workstation& workstation : std::as_const(listed))
                addWorkstation(workstations, workstation);
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvanectl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

#ifdef Q_OS_WIN
    // Lines end with a line feed alone, as on every system: in text mode the C runtime would add a carriage
    // return to each, and what scripts read would differ by platform.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
#ifndef Q_OS_WIN
    // A reader that closed the pipe is a write error to report, not a signal that ends the program unheard.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rootOption = AgentPaths::rootOption();
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("list: print the rows as JSON."));
    const QCommandLineOption csvOption(QStringLiteral("csv"),
                                       QStringLiteral("list: print the rows as CSV, a header line first."));
    const QCommandLineOption dateOption(QStringLiteral("date"), QStringLiteral("log: the day to show."),
                                        QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("sync: give up after SECONDS without an end line (default 600)."),
        QStringLiteral("SECONDS"), QStringLiteral("600"));
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"),
        QStringLiteral("stop, reinstall: print what would change for each task and change nothing."));
    const QCommandLineOption journalOption = AgentPaths::journalOption();
    const QCommandLineOption taskOption(
        QStringLiteral("task"), QStringLiteral("history: only this task's entries."), QStringLiteral("ID"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print the progress texts of the status line."));
    const QCommandLineOption followOption(
        QStringLiteral("follow"),
        QStringLiteral("sync: join the policy synchroniser running already, and follow its log from now."));
    const QCommandLineOption computerOption(
        QStringLiteral("computer"),
        QStringLiteral("list, log, history: read workstation NAME's agent over its administrative share "
                       "(\\\\NAME\\C$); again for each workstation."),
        QStringLiteral("NAME"));
    const QCommandLineOption computersOption(
        QStringLiteral("computers"),
        QStringLiteral("list, log, history: read the workstations named in FILE, one a line."),
        QStringLiteral("FILE"));
    const QCommandLineOption deadlineOption(
        QStringLiteral("deadline"),
        QStringLiteral("Several workstations: give one up after SECONDS without an answer (default %1).")
            .arg(kAgentFileDeadlineMs / 1000),
        QStringLiteral("SECONDS"));
    parser.addOptions({rootOption, journalOption, jsonOption, csvOption, dateOption, timeoutOption,
                       dryRunOption, taskOption, verboseOption, followOption, computerOption, computersOption,
                       deadlineOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, log, stop, reinstall, sync, history or undo"));

    auto usageError = [&](const QString& why) {
        err << "corvanectl: " << why << "\n\n" << parser.helpText();
        return int(kUsageError);
    };
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    // Printed here rather than by the parser, which on Windows may answer in a message box.
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return kSuccess;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return kSuccess;
    }

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.first();

    // Several workstations, or one by name: list, log and history read each. Nothing is changed on another
    // workstation from here, and Policy Sync starts the synchroniser of the machine it runs on.
    QList<Workstation> workstations;
    const bool several =
        parser.isSet(computerOption) || parser.isSet(computersOption) || parser.values(rootOption).size() > 1;
    int deadlineMs = kAgentFileDeadlineMs;
    if (several) {
        QString error;
        if (!commandLineWorkstations(parser, rootOption, computerOption, computersOption, workstations,
                                     error))
            return usageError(error);
        if (command != QLatin1String("list") && command != QLatin1String("log") &&
            command != QLatin1String("history"))
            return usageError(
                QStringLiteral("%1 works on this machine's agent or one --agent-root only: with "
                               "--computer, --computers or several --agent-root, corvanectl "
                               "reads (list, log, history) and changes nothing")
                    .arg(command));
        if (parser.isSet(journalOption))
            return usageError(QStringLiteral("--journal goes with one workstation only"));
        if (parser.isSet(deadlineOption)) {
            bool ok = false;
            const int seconds = parser.value(deadlineOption).toInt(&ok);
            if (!ok || seconds <= 0 || seconds > 3600)
                return usageError(QStringLiteral("--deadline takes a number of seconds from 1 to 3600"));
            deadlineMs = seconds * 1000;
        }
    } else if (parser.isSet(deadlineOption)) {
        return usageError(QStringLiteral("--deadline goes with several workstations"));
    }

    AgentPaths paths(several ? QString() : parser.value(rootOption));
    if (parser.isSet(journalOption))
        paths.setJournal(parser.value(journalOption));
    ConsoleFeedback feedback(err, parser.isSet(verboseOption));

    // --dry-run belongs to the commands that change the agent.
    if (parser.isSet(dryRunOption) && command != QLatin1String("stop") &&
        command != QLatin1String("reinstall") && command != QLatin1String("undo"))
        return usageError(QStringLiteral("--dry-run goes with stop, reinstall or undo only"));
    if (parser.isSet(taskOption) && command != QLatin1String("history"))
        return usageError(QStringLiteral("--task goes with history only"));
    if (command == QLatin1String("history") && args.size() == 1 && !parser.isSet(csvOption) &&
        !parser.isSet(dateOption)) {
        std::optional<QString> task;
        if (parser.isSet(taskOption))
            task = parser.value(taskOption);
        if (several)
            return runHistoryOn(workstations, deadlineMs, parser.isSet(jsonOption), task, out, err, feedback);
        return runHistory(paths, parser.isSet(jsonOption), task, out, err);
    }
    if (command == QLatin1String("undo") && !parser.isSet(jsonOption) && !parser.isSet(csvOption) &&
        !parser.isSet(dateOption)) {
        QList<qint64> ids;
        for (const QString& arg : args.mid(1)) {
            bool ok = false;
            ids << arg.toLongLong(&ok);
            if (!ok || ids.last() <= 0)
                return usageError(QStringLiteral("undo takes history entry numbers, not '%1'").arg(arg));
        }
        if (ids.isEmpty())
            return usageError(QStringLiteral("undo needs at least one history entry number"));
        return runUndoCommand(paths, ids, parser.isSet(dryRunOption), out, feedback);
    }
    if (parser.isSet(followOption) && command != QLatin1String("sync"))
        return usageError(QStringLiteral("--follow goes with sync only"));
    if (command == QLatin1String("list") && args.size() == 1 && !parser.isSet(dateOption)) {
        if (parser.isSet(jsonOption) && parser.isSet(csvOption))
            return usageError(QStringLiteral("--json and --csv exclude each other"));
        const ListFormat format = parser.isSet(jsonOption)  ? ListFormat::Json
                                  : parser.isSet(csvOption) ? ListFormat::Csv
                                                            : ListFormat::Table;
        if (several)
            return runListOn(workstations, deadlineMs, format, out, err, feedback);
        return runList(paths, format, out, err, feedback);
    }
    if (command == QLatin1String("log") && args.size() == 1 && !parser.isSet(jsonOption) &&
        !parser.isSet(csvOption)) {
        QDate date = systemClock().today();
        if (parser.isSet(dateOption)) {
            date = QDate::fromString(parser.value(dateOption), Qt::ISODate);
            if (!date.isValid())
                return usageError(QStringLiteral("--date takes a date written YYYY-MM-DD"));
        }
        if (several)
            return runLogOn(workstations, deadlineMs, date, out, err, feedback);
        return runLog(paths, date, out, err);
    }
    if ((command == QLatin1String("stop") || command == QLatin1String("reinstall")) &&
        !parser.isSet(jsonOption) && !parser.isSet(csvOption) && !parser.isSet(dateOption)) {
        if (args.size() < 2)
            return usageError(command + QStringLiteral(" needs at least one task id"));
        const TaskAction action =
            command == QLatin1String("stop") ? TaskAction::StopInstall : TaskAction::Reinstall;
        return runAction(paths, action, args.mid(1), parser.isSet(dryRunOption), out, feedback);
    }
    if (command == QLatin1String("sync") && args.size() == 1 && !parser.isSet(jsonOption) &&
        !parser.isSet(csvOption) && !parser.isSet(dateOption)) {
        bool ok = false;
        const int timeout = parser.value(timeoutOption).toInt(&ok);
        if (!ok || timeout <= 0 || timeout > 24 * 3600)
            return usageError(QStringLiteral("--timeout takes a number of seconds from 1 to 86400"));
        return runSync(paths, parser.isSet(followOption), timeout, out, err, feedback);
    }
    return usageError(QStringLiteral("unknown command or arguments: ") + args.join(QLatin1Char(' ')));
}
