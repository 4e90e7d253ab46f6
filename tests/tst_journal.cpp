// The journal of changes and Undo, against real agent databases and real corvanectl processes.
#include "CorvanectlRun.h"
#include "TestAgent.h"
#include "actions/Journal.h"
#include "actions/TaskActions.h"
#include "actions/Undo.h"
#include "agent/ClientDatabase.h"
#include "agent/TaskTable.h"
#include "base/SqliteConnection.h"
#include "tasklist/Feedback.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace corvane;
using corvane::test::CorvanectlRun;
using corvane::test::runCorvanectl;
using corvane::test::TestAgent;

namespace {

class Quiet : public Feedback {
public:
    void setStatus(const QString&) override {}
};

// Every row of the agent's tables with every value as stored (storage class and exact bytes).
QList<QList<SqlValue>> exactRows(const TestAgent& agent) {
    SqliteConnection db(agent.paths().database(), SqliteConnection::Access::ReadOnly);
    QList<QList<SqlValue>> all;
    for (const char* table : {"ClientOperations", "InvokerState", "ReschedulePolicy", "PackageState"}) {
        QList<QList<SqlValue>> rows;
        QString error;
        db.query(QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(QLatin1String(table)), {}, rows,
                 error);
        all << QList<SqlValue>{{SqlValue::Type::Text, QByteArray(table), 0}} << rows;
    }
    return all;
}

// Tasks 1 to 3 Waiting with a policy and a package state, each row with extra columns of every storage class.
bool writeAgent(TestAgent& agent) {
    if (!agent.createDatabase())
        return false;
    QString sql = QStringLiteral(
        "ALTER TABLE InvokerState ADD COLUMN note; ALTER TABLE ReschedulePolicy ADD COLUMN weight REAL;"
        "ALTER TABLE ReschedulePolicy ADD COLUMN tag; ALTER TABLE PackageState ADD COLUMN payload BLOB;");
    for (int i = 1; i <= 3; ++i)
        sql += QStringLiteral(
                   "INSERT INTO ClientOperations (filename) VALUES ('SDClientTask.%1.xml');"
                   "INSERT INTO InvokerState (ClientOperations_IDN, state, note) VALUES (%1, 2, x'00ff0%1');"
                   "INSERT INTO ReschedulePolicy (operationId, periodicReschedule, rescheduleTimeT, weight, "
                   "tag) "
                   "VALUES ('SDClientTask.%1.xml', 1, 1700000000, 0.1 + 0.2, NULL);"
                   "INSERT INTO PackageState (Task, Package, State, payload) VALUES "
                   "('SWD.MultipleTaskProtection.%1', 'pkg', 6, x'0102');")
                   .arg(i);
    for (int i = 1; i <= 3; ++i) {
        if (!agent.writeDescriptor(QStringLiteral("SDClientTask.%1.xml").arg(i),
                                   QStringLiteral("Package %1").arg(i)))
            return false;
    }
    return agent.execute(sql);
}

QList<ActionTarget> targets(const TestAgent& agent, const QStringList& ids) {
    TaskTable table;
    LoadResult result;
    QString error;
    loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error);
    QList<CheckedRow> rows;
    for (const QString& id : ids)
        rows.append({QLatin1Char('k') + id, true, QStringLiteral("Package ") + id});
    return checkedTargets(rows, table);
}

QStringList withRoot(const TestAgent& agent, const QStringList& arguments) {
    return QStringList{QStringLiteral("--agent-root"), agent.root()} + arguments;
}

QJsonArray history(const TestAgent& agent) {
    const CorvanectlRun run =
        runCorvanectl(withRoot(agent, {QStringLiteral("history"), QStringLiteral("--json")}));
    return QJsonDocument::fromJson(run.out.toUtf8()).array();
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private slots:
    // Stop Install and Reinstall journaled, then undone: every row as it was, values and storage classes
    // exact, extra columns included; the Undo journaled in its turn and refused a second time.
    void undoRestoresExactly() {
        TestAgent agent;
        QVERIFY(writeAgent(agent));
        const QList<QList<SqlValue>> original = exactRows(agent);
        const QString journal = agent.paths().journal();
        Quiet quiet;
        const ActionReport stop = runAction(TaskAction::StopInstall, targets(agent, {QStringLiteral("1")}),
                                            agent.paths().database(), journal, quiet);
        const ActionReport reinstall = runAction(TaskAction::Reinstall, targets(agent, {QStringLiteral("2")}),
                                                 agent.paths().database(), journal, quiet);
        QCOMPARE(stop.journalEntries(), QList<qint64>{1});
        QCOMPARE(reinstall.journalEntries(), QList<qint64>{2});
        QVERIFY(exactRows(agent) != original);

        const ActionReport preview = planUndo({2, 1}, agent.paths().database(), journal);
        QCOMPARE(preview.count(TaskOutcome::Kind::Change), 2);
        const ActionReport undone = applyUndoPreview(preview, agent.paths().database(), journal, quiet);
        QCOMPARE(undone.summary(), QStringLiteral("Undo: 2 undone"));
        QCOMPARE(exactRows(agent), original);
        QCOMPARE(agent.integrityCheck(), QStringLiteral("ok"));

        const QJsonArray entries = history(agent);
        QCOMPARE(entries.size(), 4);
        QCOMPARE(entries.at(0)[QStringLiteral("action")].toString(), QStringLiteral("Undo"));
        QCOMPARE(entries.at(3)[QStringLiteral("status")].toString(), QStringLiteral("undone"));
        const QJsonObject deleted = entries.at(3)[QStringLiteral("rows")].toArray().at(0).toObject();
        QCOMPARE(deleted[QStringLiteral("table")].toString(), QStringLiteral("ReschedulePolicy"));
        QCOMPARE(deleted[QStringLiteral("before")][QStringLiteral("weight")].toDouble(), 0.1 + 0.2);
        QVERIFY(deleted[QStringLiteral("after")].isNull());

        // Neither an entry undone already nor an Undo entry can be undone.
        const ActionReport again = runUndo({1, 4}, agent.paths().database(), journal, quiet);
        QCOMPARE(again.count(TaskOutcome::Kind::Refused), 2);
        QCOMPARE(exactRows(agent), original);
    }

    // Undo goes ahead only over what Corvane left; a row the agent changed since is named.
    void undoRefusesWhatTheAgentChanged() {
        TestAgent agent;
        QVERIFY(writeAgent(agent));
        Quiet quiet;
        runAction(TaskAction::StopInstall, targets(agent, {QStringLiteral("1"), QStringLiteral("2")}),
                  agent.paths().database(), agent.paths().journal(), quiet);
        QVERIFY(
            agent.execute(QStringLiteral("UPDATE InvokerState SET state = 4 WHERE ClientOperations_IDN = 1;"
                                         "INSERT INTO ReschedulePolicy (ReschedulePolicy_IDN, operationId) "
                                         "VALUES (2, 'taken')")));
        const QList<QList<SqlValue>> before = exactRows(agent);
        const CorvanectlRun first =
            runCorvanectl(withRoot(agent, {QStringLiteral("undo"), QStringLiteral("1")}));
        QCOMPARE(first.exitCode, 1);
        QVERIFY2(first.err.contains(QLatin1String("InvokerState of 1 is now Active")), qPrintable(first.err));
        QCOMPARE(exactRows(agent), before);
        // The second task's policy comes back under a new rowid: its own was taken since.
        const CorvanectlRun second =
            runCorvanectl(withRoot(agent, {QStringLiteral("undo"), QStringLiteral("2")}));
        QCOMPARE(second.exitCode, 0);
        QVERIFY2(second.out.contains(QLatin1String("ReschedulePolicy inserted again under a new rowid")),
                 qPrintable(second.out));
        QVERIFY(agent.dump(QStringLiteral("InvokerState")).at(1).startsWith(QLatin1String("2|2|2|")));
    }

    // No change without a record: a journal that cannot be written refuses the action before anything is
    // written; two corvanectl writing to one journal at once each get their entry.
    void journalFirst() {
        TestAgent agent;
        QVERIFY(writeAgent(agent));
        const QList<QList<SqlValue>> before = exactRows(agent);
        const QString folder = agent.root() + QStringLiteral("/not-a-file");
        QVERIFY(QDir().mkpath(folder));
        const CorvanectlRun refused = runCorvanectl(withRoot(
            agent, {QStringLiteral("--journal"), folder, QStringLiteral("stop"), QStringLiteral("1")}));
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(QDir::toNativeSeparators(folder)), qPrintable(refused.err));
        QCOMPARE(exactRows(agent), before);

        QProcess first;
        QProcess second;
        first.start(QStringLiteral(CORVANECTL_PATH),
                    withRoot(agent, {QStringLiteral("stop"), QStringLiteral("1")}));
        second.start(QStringLiteral(CORVANECTL_PATH),
                     withRoot(agent, {QStringLiteral("reinstall"), QStringLiteral("2")}));
        QVERIFY(first.waitForFinished(30000) && second.waitForFinished(30000));
        QCOMPARE(first.exitCode() + second.exitCode(), 0);
        const QJsonArray entries = history(agent);
        QCOMPARE(entries.size(), 2);
        for (const QJsonValue& entry : entries)
            QCOMPARE(entry[QStringLiteral("status")].toString(), QStringLiteral("done"));
    }

    // A corvanectl killed after its journal entry was committed and before the agent's commit: the entry is
    // settled from the agent's rows at the next opening, "not applied", and the agent's rows are as before.
    void killedBetweenTheJournalAndTheAgent() {
        TestAgent agent;
        QVERIFY(writeAgent(agent));
        const QStringList before = agent.dumpAll();
        QStringList states;
        {
            // A reader's lock keeps the agent's commit waiting, after the journal's.
            SqliteConnection reader(agent.paths().database(), SqliteConnection::Access::ReadOnly);
            QList<QList<SqlValue>> rows;
            QString error;
            QVERIFY(reader.exec(QStringLiteral("BEGIN"), error));
            QVERIFY(reader.query(QStringLiteral("SELECT count(*) FROM InvokerState"), {}, rows, error));
            QProcess ctl;
            ctl.start(QStringLiteral(CORVANECTL_PATH),
                      withRoot(agent, {QStringLiteral("stop"), QStringLiteral("1")}));
            QVERIFY(QTest::qWaitFor(
                [&] {
                    const QJsonArray entries = history(agent);
                    return !entries.isEmpty() &&
                           entries.at(0)[QStringLiteral("status")].toString() == QStringLiteral("pending");
                },
                10000));
            ctl.kill();
            QVERIFY(ctl.waitForFinished(10000));
            reader.exec(QStringLiteral("ROLLBACK"), error);
        }
        QCOMPARE(agent.dumpAll(), before);
        Quiet quiet;
        runAction(TaskAction::StopInstall, targets(agent, {QStringLiteral("3")}), agent.paths().database(),
                  agent.paths().journal(), quiet);
        const QJsonArray entries = history(agent);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.at(1)[QStringLiteral("status")].toString(), QStringLiteral("not applied"));
        QCOMPARE(entries.at(0)[QStringLiteral("status")].toString(), QStringLiteral("done"));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
