// corvanectl: the agent's tasks and logs from the command line, through the same code as the window.
#include "AgentPaths.h"
#include "ClientDatabase.h"
#include "Clock.h"
#include "Feedback.h"
#include "InvokerLog.h"
#include "PolicySyncRun.h"
#include "TaskActions.h"
#include "TaskList.h"
#include "TaskListExport.h"
#include "TaskListLoader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
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
    "  sync [--timeout SECONDS]         Policy Sync: start the synchroniser and follow its log");

// Text from the agent's files as a terminal should get it: every control character shown as an escape
// (ESC as \x1b), so that a name or a log line can neither move the cursor, retitle or clear the terminal,
// nor split a row. The characters in `kept` stay as they are (a message's own line breaks, a log's tabs).
QString visibleText(const QString& text, QStringView kept = {}) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
        // Line and paragraph separators break a line too; the direction overrides reorder what follows.
        const bool layout = code == 0x2028 || code == 0x2029 || code == 0x200E || code == 0x200F ||
                            (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
        if ((control || layout) && !kept.contains(c))
            shown += code < 0x100 ? QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'))
                                  : QStringLiteral("\\u%1").arg(int(code), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

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
    void showMessage(const QString& text) override {
        ++m_messages;
        m_err << visibleText(text, u"\n") << Qt::endl;
    }
    int messages() const { return m_messages; }

private:
    int m_messages = 0;
    QTextStream& m_err;
    bool m_verbose;
};

QJsonObject rowObject(const TaskRow& row) {
    return QJsonObject{
        {QStringLiteral("key"), row.key},
        {QStringLiteral("record"), row.record},
        {QStringLiteral("application"), row.application},
        {QStringLiteral("database"), row.database},
        {QStringLiteral("sdclient"), row.sdclient},
        {QStringLiteral("install"), row.install},
        {QStringLiteral("reschedule"), row.reschedule},
        {QStringLiteral("rescheduleDate"), row.rescheduleDate},
        {QStringLiteral("kind"), kindLetter(row)},
        {QStringLiteral("icon"), iconName(row.icon)},
        {QStringLiteral("colour"), colourName(row.colour)},
        {QStringLiteral("tag"), tagName(row.tag)},
    };
}

// The rows as an aligned table: the task id, the list's six captioned columns, then icon and colour.
void printTable(QTextStream& out, const QList<TaskRow>& rows) {
    QList<QStringList> lines;
    QStringList header{QStringLiteral("Task")};
    for (int column = 1; column < kTaskColumns.size(); ++column)
        header << kTaskColumns.at(column).caption;
    header << QStringLiteral("Icon") << QStringLiteral("Colour");
    lines << header;
    for (const TaskRow& row : rows) {
        QStringList cells{cappedCell(row.key.mid(1))};
        for (int column = 1; column < kTaskColumns.size(); ++column)
            cells << row.columnText(column);
        cells << iconName(row.icon) << colourName(row.colour);
        for (QString& cell : cells)
            cell = visibleText(cell);
        lines << cells;
    }
    QList<qsizetype> widths(header.size(), 0);
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
    QString dbErrorText;
    const TaskListSnapshot snapshot = loadTaskList(paths, dbErrorText, feedback);
    if (format == ListFormat::Csv) {
#ifdef Q_OS_WIN
        // CSV lines end with CR LF already; a text-mode stdout would add another CR.
        out.flush();
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        out << taskListCsv(snapshot.rows);
    } else if (format == ListFormat::Json) {
        QJsonArray array;
        for (const TaskRow& row : snapshot.rows)
            array.append(rowObject(row));
        out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    } else {
        printTable(out, snapshot.rows);
    }
    if (withOutputWritten(out, err, kSuccess) != kSuccess)
        return kDataFailure;
    if (snapshot.database.databaseMissing) {
        err << kDatabaseMissingMessage << paths.database() << Qt::endl;
        return kDataFailure;
    }
    if (snapshot.database.failed) {
        err << "Database error: " << visibleText(dbErrorText) << Qt::endl;
        return kDataFailure;
    }
    const QString descriptors = descriptorNotice(snapshot.rows);
    if (!descriptors.isEmpty())
        err << "Warning: " << visibleText(descriptors) << Qt::endl;
    if (!snapshot.scheduledTasksRead)
        err << "Warning: the scheduled-task file could not be read: "
            << visibleText(snapshot.scheduledTasksError) << Qt::endl;
    // The other rows are printed; a script still learns that the list is not whole.
    for (const QString& problem : snapshot.database.rowProblems)
        err << "Row not read whole: " << visibleText(problem) << Qt::endl;
    if (snapshot.table.overflow() > 0)
        err << leftOutNotice(snapshot.table.overflow()) << Qt::endl;
    return snapshot.database.rowProblems.isEmpty() && snapshot.table.overflow() == 0 ? kSuccess
                                                                                     : kDataFailure;
}

int runLog(const AgentPaths& paths, const QDate& date, QTextStream& out, QTextStream& err) {
    const InvokerLogPart part = readInvokerLog(paths.invokerLog(), date);
    switch (part.status) {
    case InvokerLogPart::Status::Missing:
        err << kLogMissingText << Qt::endl;
        return kDataFailure;
    case InvokerLogPart::Status::Unreadable:
        err << kLogMissingText << ": " << paths.invokerLog() << ": " << part.error << Qt::endl;
        return kDataFailure;
    case InvokerLogPart::Status::Read:
        break;
    }
    for (const QString& line : part.lines)
        out << visibleText(line, u"\t") << '\n';
    return withOutputWritten(out, err, kSuccess);
}

// Stop Install or Reinstall on the named tasks: their rows stand for the checked rows, in list order.
// The preview of a dry run: one line per task (its id, package and what would happen, tab-separated, each
// shown as a terminal should get it), then the summary.
void printPreview(QTextStream& out, const ActionReport& report) {
    for (const TaskOutcome& task : report.tasks) {
        QString what;
        switch (task.kind) {
        case TaskOutcome::Kind::Change:
            what = task.changes.join(QStringLiteral(", "));
            break;
        case TaskOutcome::Kind::Refused:
            what = QStringLiteral("refused: ") + task.reason;
            break;
        case TaskOutcome::Kind::NotChanged:
            what = QStringLiteral("unchanged: ") + task.reason;
            break;
        }
        out << visibleText(task.taskId) << '\t' << visibleText(task.packageName) << '\t' << visibleText(what)
            << '\n';
    }
    out << report.summary() << '\n';
}

// Rows the window would not let be checked (not a package) are refused and left alone. With `dryRun` the
// preview is printed and nothing is changed; the exit status is the one the real run would give.
int runAction(const AgentPaths& paths, TaskAction action, const QStringList& taskIds, bool dryRun,
              QTextStream& out, ConsoleFeedback& feedback) {
    QString dbErrorText;
    const TaskListSnapshot snapshot = loadTaskList(paths, dbErrorText, feedback);
    if (snapshot.database.failed)
        feedback.showMessage(QStringLiteral("Database error: ") + dbErrorText);

    QList<CheckedRow> rows;
    QStringList found;
    for (const TaskRow& row : snapshot.rows) {
        const QString taskId = row.key.mid(1);
        if (!taskIds.contains(taskId))
            continue;
        found << taskId;
        if (row.tag == TaskRow::Tag::Policy)
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
    const ActionReport report = dryRun ? planAction(action, targets, paths.database())
                                       : corvane::runAction(action, targets, paths.database(), feedback);
    if (dryRun) {
        printPreview(out, report);
    } else {
        if (!report.problems().isEmpty())
            feedback.showMessage(report.problems());
        out << report.summary() << '\n';
    }
    out.flush();
    return feedback.messages() == 0 && report.allChanged() ? kSuccess : kDataFailure;
}

// Policy Sync from the command line: each new line of the synchroniser's log once, as it appears, then the
// summary as the last line.
int runSync(const AgentPaths& paths, int timeoutSeconds, QTextStream& out, QTextStream& err,
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
        for (const QString& line : pass.lines)
            out << visibleText(line, u"\t") << '\n';
        out.flush();
    });
    QObject::connect(&run, &PolicySyncRun::finished, &loop,
                     [&](PolicySyncRun::Outcome outcome, const QString& message) {
                         if (outcome == PolicySyncRun::Outcome::Completed) {
                             out << syncSummary(run.tally()) << Qt::endl;
                             loop.exit(kSuccess);
                         } else {
                             err << visibleText(message, u"\n") << Qt::endl;
                             loop.exit(kDataFailure);
                         }
                     });
    if (!run.start()) {
        err << run.error() << Qt::endl;
        return kDataFailure;
    }
    return loop.exec();
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
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print the progress texts of the status line."));
    parser.addOptions(
        {rootOption, jsonOption, csvOption, dateOption, timeoutOption, dryRunOption, verboseOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, log, stop, reinstall or sync"));

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
    const AgentPaths paths(parser.value(rootOption));
    ConsoleFeedback feedback(err, parser.isSet(verboseOption));

    // --dry-run belongs to the two commands that change the agent.
    if (parser.isSet(dryRunOption) && command != QLatin1String("stop") &&
        command != QLatin1String("reinstall"))
        return usageError(QStringLiteral("--dry-run goes with stop or reinstall only"));
    if (command == QLatin1String("list") && args.size() == 1 && !parser.isSet(dateOption)) {
        if (parser.isSet(jsonOption) && parser.isSet(csvOption))
            return usageError(QStringLiteral("--json and --csv exclude each other"));
        const ListFormat format = parser.isSet(jsonOption)  ? ListFormat::Json
                                  : parser.isSet(csvOption) ? ListFormat::Csv
                                                            : ListFormat::Table;
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
        return runSync(paths, timeout, out, err, feedback);
    }
    return usageError(QStringLiteral("unknown command or arguments: ") + args.join(QLatin1Char(' ')));
}
