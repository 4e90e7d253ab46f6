#include "agent/ClientDatabase.h"

#include "agent/AgentTime.h"
#include "agent/TaskRecord.h"
#include "agent/TaskTable.h"
#include "base/AgentFile.h"
#include "base/SqliteConnection.h"

#include <QFileInfo>

#include <optional>

namespace corvane {

namespace {

const QString kNoInvokerState = QStringLiteral("7");

// Appends the reschedule text and date of one row to `record`. A reschedule time that cannot be read leaves
// the date empty and says why in `problem`: the rest of the row is still worth showing.
void appendRescheduleFields(QString& record, QByteArrayView periodic, QByteArrayView timeT,
                            QString& problem) {
    if (periodic.isEmpty()) {
        record += QLatin1StringView("No;");
        return;
    }
    if (periodic == "0")
        record += QLatin1StringView("Yes:Error");
    else if (periodic == "1")
        record += QLatin1StringView("Yes:Policy");
    else // a policy kind unknown here: shown
        record += QLatin1StringView("Yes:") + TaskRecord::escaped(QString::fromUtf8(periodic));
    if (timeT == "1") {
        record += QLatin1StringView(";Now");
        return;
    }
    record += QLatin1Char(';');
    const std::optional<QString> date = agentTimeTextOfAscii(timeT);
    if (date)
        record += *date;
    else
        problem = timeT.isEmpty()
                      ? QStringLiteral("no reschedule time, shown without its date")
                      : QStringLiteral("reschedule time '%1' is not a time, shown without its date")
                            .arg(QString::fromUtf8(timeT));
}

// The invoker state as the record stores it; the usual one-digit codes are shared, not made for each row.
QString stateField(QByteArrayView state) {
    static const QString kCodes[] = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                     QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"),
                                     QStringLiteral("6"), QStringLiteral("7")};
    if (state.isEmpty())
        return kNoInvokerState;
    if (state.size() == 1 && state.at(0) >= '0' && state.at(0) <= '7')
        return kCodes[state.at(0) - '0'];
    return TaskRecord::escaped(QString::fromUtf8(state));
}

// The entry of one row of the load query. A row that cannot be read whole is named in `result` and the load
// goes on, so one bad row hides no other.
void addOperation(TaskTable& table, const SqlRow& row, LoadResult& result) {
    const auto column = [&row](int index) {
        return index < row.size() ? row.text(index) : QByteArrayView();
    };
    const QString operationFile = QString::fromUtf8(column(0));
    const QString taskId = taskIdFromOperationFile(operationFile);
    if (table.exists(taskId)) {
        result.rowProblems
            << QStringLiteral("%1: task id '%2' appears twice, left out").arg(operationFile, taskId);
        return;
    }
    // Room for the scheduled-task file's two fields, which the merge appends in place.
    QString record = TaskRecord::escaped(operationFile);
    record.reserve(record.size() + 80);
    record += QLatin1Char(';');
    record += stateField(column(1));
    record += QLatin1Char(';');
    QString problem;
    appendRescheduleFields(record, column(2), column(3), problem);
    if (!problem.isEmpty())
        result.rowProblems << operationFile + QStringLiteral(": ") + problem;
    record += TaskRecord::kUnmergedTail;
    if (table.add(taskId, record))
        ++result.rows;
}

} // namespace

QString taskIdFromOperationFile(const QString& operationFile) {
    // The usual name, the prefix once at its start and the extension once at its end, is cut without a copy
    // of the whole name; any other is cut as the general rule says.
    constexpr QLatin1StringView kPrefix("SDClientTask.");
    constexpr QLatin1StringView kExtension(".xml");
    const QStringView name(operationFile);
    if (name.startsWith(kPrefix) && name.indexOf(kPrefix, 1) < 0) {
        const QStringView rest = name.sliced(kPrefix.size());
        if (rest.endsWith(kExtension) && rest.indexOf(kExtension) == rest.size() - kExtension.size()) {
            const QStringView id = rest.chopped(kExtension.size());
            return id.sliced(id.lastIndexOf(QLatin1Char('.')) + 1).toString();
        }
    }
    QString rest = operationFile;
    rest.remove(QStringLiteral("SDClientTask."));
    rest.remove(QStringLiteral(".xml"));
    return rest.section(QLatin1Char('.'), -1);
}

DatabaseRead loadOperations(TaskTable& table, const QString& dbPath, const QString& sql, LoadResult& result,
                            QString& error) {
    result = LoadResult();
    if (dbPath.isEmpty() || sql.isEmpty())
        return DatabaseRead::Read;
    if (!QFileInfo(dbPath).isFile()) {
        table.add(TaskRecord::kMissingDatabaseKey, TaskRecord::kMissingDatabaseRecord);
        return DatabaseRead::Missing;
    }

    // Opened once as any agent file first: a database that is no regular file, leads out of its folder or may
    // not be read is refused with that reason, where SQLite would only say it is "unable to open" it.
    {
        AgentFile probe;
        QString refused;
        if (openAgentFile(probe, dbPath, refused) == AgentFileStatus::Unreadable) {
            error = refused;
            return DatabaseRead::Failed;
        }
    }
    // Each row becomes its entry as it is read, without a list of the rows first; a read that fails part way
    // leaves the table as it was.
    const TaskTable before = table;
    QString queryError;
    SqliteConnection db(dbPath, SqliteConnection::Access::ReadOnly);
    const bool read = db.forEachRow(
        sql, [&](const SqlRow& row) { addOperation(table, row, result); }, queryError);
    result.recoveredInterruptedWrite = db.recoveredInterruptedWrite();
    if (!read) {
        table = before;
        result.rows = 0;
        result.rowProblems.clear();
        error = queryError;
        return DatabaseRead::Failed;
    }
    return DatabaseRead::Read;
}

} // namespace corvane
