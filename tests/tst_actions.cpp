// Stop Install, Reinstall and the checked-row walk, against real databases.
#include "ClientDatabase.h"
#include "Feedback.h"
#include "TaskActions.h"
#include "TaskListLoader.h"
#include "TestAgent.h"

#include <QTest>

using namespace corvane;
using corvane::test::TestAgent;

namespace {

// Records status texts and messages in the order they come, each statement run between them.
class Recorder : public Feedback {
public:
    QStringList events;
    void setStatus(const QString& text) override { events << QStringLiteral("status: ") + text; }
    void showMessage(const QString& text) override { events << QStringLiteral("message: ") + text; }
};

QStringList describe(const QList<Statement>& statements) {
    QStringList lines;
    for (const Statement& statement : statements)
        lines << statement.status << statement.sql;
    return lines;
}

struct Agent {
    TestAgent tree;
    TaskTable table;
};

// An agent with the given operations (file name, state, periodicReschedule), each with a package state row.
void fill(TestAgent& agent, const QList<std::array<const char*, 3>>& operations) {
    QVERIFY(agent.createDatabase());
    for (const auto& op : operations) {
        const QString file = QString::fromUtf8(op[0]);
        std::optional<QString> periodic;
        std::optional<QString> timeT;
        if (op[2]) {
            periodic = QString::fromUtf8(op[2]);
            timeT = QStringLiteral("86400");
        }
        QVERIFY(agent.addOperation({file, QString::fromUtf8(op[1]), periodic, timeT}));
        QVERIFY(agent.addPackageState(packageStateTask(file), QStringLiteral("pkg"), 6));
    }
}

TaskTable loadTable(const TestAgent& agent) {
    TaskTable table;
    QString errText;
    loadOperations(table, agent.paths().database(), kLoadOperationsQuery, errText);
    return table;
}

} // namespace

class TestActions : public QObject {
    Q_OBJECT

private slots:
    void stopStatementsInOrder() {
        const QStringList fields = {QStringLiteral("SDClientTask.12.xml"), QStringLiteral("1"),
                                    QStringLiteral("Yes:Policy")};
        QCOMPARE(describe(stopStatements(fields)),
                 QStringList(
                     {QStringLiteral("Updating SQLite : ReschedulePolicy"),
                      QStringLiteral("DELETE FROM ReschedulePolicy WHERE operationId='SDClientTask.12.xml'"),
                      QStringLiteral("Updating SQLite : InvokerState"),
                      QStringLiteral("UPDATE InvokerState SET state=6 WHERE ClientOperations_IDN IN ( SELECT "
                                     "c.ClientOperations_IDN FROM ClientOperations c WHERE c.filename = "
                                     "'SDClientTask.12.xml' )")}));
        QCOMPARE(stopStatements({fields.at(0), fields.at(1), QStringLiteral("No")}).size(), 1);
    }

    void reinstallStatementsInOrder() {
        const QStringList fields = {QStringLiteral("SDClientTask.12.xml"), QStringLiteral("4"),
                                    QStringLiteral("Yes:Policy")};
        QCOMPARE(describe(reinstallStatements(fields)),
                 QStringList(
                     {QStringLiteral("Updating SQLite : PackageState"),
                      QStringLiteral("DELETE FROM PackageState WHERE Task = 'SWD.MultipleTaskProtection.12'"),
                      QStringLiteral("Updating SQLite : ReschedulePolicy"),
                      QStringLiteral("UPDATE ReschedulePolicy SET rescheduleTimeT = 1 WHERE "
                                     "operationId='SDClientTask.12.xml'"),
                      QStringLiteral("Updating SQLite : InvokerState"),
                      QStringLiteral(
                          "UPDATE InvokerState SET state=0 WHERE ClientOperations_IDN IN ( SELECT "
                          "c.ClientOperations_IDN FROM ClientOperations c LEFT JOIN ReschedulePolicy r ON "
                          "c.filename=r.operationId WHERE c.filename = 'SDClientTask.12.xml' )")}));
        QCOMPARE(reinstallStatements({fields.at(0), fields.at(1), QStringLiteral("No")}).size(), 2);
    }

    void packageStateTaskName_data() {
        QTest::addColumn<QString>("operationFile");
        QTest::addColumn<QString>("task");
        QTest::newRow("usual") << "SDClientTask.12.xml"
                               << "SWD.MultipleTaskProtection.12";
        QTest::newRow("other case unchanged") << "sdclienttask.12.XML"
                                              << "sdclienttask.12.XML";
        QTest::newRow("bare task id") << "12"
                                      << "12";
        QTest::newRow("markers anywhere") << "a.xml.SDClientTask.xml.b"
                                          << "a.SWD.MultipleTaskProtection.b";
    }
    void packageStateTaskName() {
        QFETCH(QString, operationFile);
        QFETCH(QString, task);
        QCOMPARE(packageStateTask(operationFile), task);
    }

    void stopRefusesResumeAndActive_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("refused");
        QTest::newRow("0 Resume") << "0" << true;
        QTest::newRow("4 Active") << "4" << true;
        QTest::newRow("6 Completed") << "6" << false;
        QTest::newRow("7 n/a") << "7" << false;
        QTest::newRow("not a number") << "x" << false;
    }
    void stopRefusesResumeAndActive() {
        QFETCH(QString, state);
        QFETCH(bool, refused);
        QCOMPARE(stopRefused({QStringLiteral("f"), state, QStringLiteral("No")}), refused);
    }

    void walkMessagesAndOrder() {
        TestAgent agent;
        fill(agent, {{"SDClientTask.2.xml", "2", "1"},
                     {"SDClientTask.4.xml", "4", nullptr},
                     {"SDClientTask.k12.xml", "6", nullptr},
                     {"SDClientTask.5.xml", "1", nullptr}});
        const TaskTable table = loadTable(agent);
        const QList<CheckedRow> rows = {{QStringLiteral("k2"), true},
                                        {QStringLiteral("k4"), true},
                                        {QStringLiteral("kk12"), true},
                                        {QStringLiteral("k5"), false},
                                        {QStringLiteral("k99"), true}};
        Recorder recorder;
        QString dbErrorText;
        const WalkResult result = runCheckedRowWalk(rows, table, TaskAction::StopInstall,
                                                    agent.paths().database(), dbErrorText, recorder);
        QCOMPARE(recorder.events,
                 QStringList({
                     QStringLiteral("status: Updating SQLite : ReschedulePolicy"),
                     QStringLiteral("status: "),
                     QStringLiteral("status: Updating SQLite : InvokerState"),
                     QStringLiteral("status: "),
                     QStringLiteral("message: Can't prevent installation where package is Active"),
                     QStringLiteral("status: Updating SQLite : InvokerState"),
                     QStringLiteral("status: "),
                     QStringLiteral("message: Error: Can't find TaskId in the Dictionary"),
                 }));
        QCOMPARE(result.messages, 2);
        QCOMPARE(result.failedTasks, 0);
        QCOMPARE(dbErrorText, QString());
        QCOMPARE(agent.integrityCheck(), QStringLiteral("ok"));
        QCOMPARE(agent.dump(QStringLiteral("InvokerState")),
                 QStringList({QStringLiteral("1|1|6|0|0"), QStringLiteral("2|2|4|0|0"),
                              QStringLiteral("3|3|6|0|0"), QStringLiteral("4|4|1|0|0")}));
        QCOMPARE(agent.dump(QStringLiteral("ReschedulePolicy")), QStringList());
    }

    void nothingCheckedGivesOneMessage() {
        TestAgent agent;
        fill(agent, {{"SDClientTask.2.xml", "2", "1"}});
        const QStringList before = agent.dumpAll();
        for (const TaskAction action : {TaskAction::StopInstall, TaskAction::Reinstall}) {
            Recorder recorder;
            QString dbErrorText;
            runCheckedRowWalk({{QStringLiteral("k2"), false}}, loadTable(agent), action,
                              agent.paths().database(), dbErrorText, recorder);
            QCOMPARE(recorder.events, QStringList{QStringLiteral(
                                          "message: You must have, at least, one application checked")});
        }
        QCOMPARE(agent.dumpAll(), before);
    }

    void reinstallChangesExactlyItsTask() {
        TestAgent agent;
        fill(agent, {{"SDClientTask.1.xml", "6", "0"},
                     {"SDClientTask.2.xml", "4", "1"},
                     {"SDClientTask.3.xml", "6", nullptr}});
        Recorder recorder;
        QString dbErrorText;
        runCheckedRowWalk({{QStringLiteral("k2"), true}, {QStringLiteral("k3"), true}}, loadTable(agent),
                          TaskAction::Reinstall, agent.paths().database(), dbErrorText, recorder);
        QCOMPARE(agent.integrityCheck(), QStringLiteral("ok"));
        QCOMPARE(agent.dump(QStringLiteral("PackageState")),
                 QStringList{QStringLiteral("1|SWD.MultipleTaskProtection.1|pkg|6|0")});
        QCOMPARE(agent.dump(QStringLiteral("ReschedulePolicy")),
                 QStringList({QStringLiteral("1|SDClientTask.1.xml|0|86400|0|3"),
                              QStringLiteral("2|SDClientTask.2.xml|1|1|0|3")}));
        QCOMPARE(agent.dump(QStringLiteral("InvokerState")),
                 QStringList({QStringLiteral("1|1|6|0|0"), QStringLiteral("2|2|0|0|0"),
                              QStringLiteral("3|3|0|0|0")}));
    }

    // Names with quotes and other characters SQL cares about change their own rows and nothing else.
    void awkwardOperationNamesTouchOnlyTheirRows_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("quote") << "SDClientTask.O'Brien.xml";
        QTest::newRow("quote that would widen") << "SDClientTask.x' OR '1'='1.xml";
        QTest::newRow("comment and parenthesis") << "SDClientTask.a)--b.xml";
        QTest::newRow("semicolon naming another operation") << "SDClientTask.before.xml;x.xml";
        QTest::newRow("percent and backslash") << "SDClientTask.50%\\off.xml";
        QTest::newRow("non-ASCII") << "SDClientTask.th\u00e8me-\u00e9t\u00e9.xml";
    }
    void awkwardOperationNamesTouchOnlyTheirRows() {
        QFETCH(QString, name);
        for (const TaskAction action : {TaskAction::StopInstall, TaskAction::Reinstall}) {
            TestAgent agent;
            fill(agent, {{"SDClientTask.before.xml", "2", "1"}, {"SDClientTask.after.xml", "2", "1"}});
            QVERIFY(agent.addOperation(
                {name, QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("86400")}));
            QVERIFY(agent.addPackageState(packageStateTask(name), QStringLiteral("pkg"), 6));
            const QStringList before = agent.dumpAll();
            const TaskTable table = loadTable(agent);
            QCOMPARE(table.count(), 3);
            Recorder recorder;
            QString dbErrorText;
            const WalkResult result =
                runCheckedRowWalk({{QLatin1Char('k') + table.keys().at(2), true}}, table, action,
                                  agent.paths().database(), dbErrorText, recorder);
            QCOMPARE(result.messages, 0);
            const QStringList after = agent.dumpAll();
            // The two other operations' rows are exactly as they were.
            for (int t = 0; t < before.size(); ++t) {
                const QStringList rowsBefore = before.at(t).split(QLatin1Char('/'));
                const QStringList rowsAfter = after.at(t).split(QLatin1Char('/'));
                for (int r = 0; r < 2 && r < rowsAfter.size(); ++r)
                    QCOMPARE(rowsAfter.at(r), rowsBefore.at(r));
            }
            QCOMPARE(agent.integrityCheck(), QStringLiteral("ok"));
            if (action == TaskAction::StopInstall) {
                QCOMPARE(agent.dump(QStringLiteral("InvokerState")).last(), QStringLiteral("3|3|6|0|0"));
                QCOMPARE(agent.dump(QStringLiteral("ReschedulePolicy")).size(), 2);
            } else {
                QCOMPARE(agent.dump(QStringLiteral("InvokerState")).last(), QStringLiteral("3|3|0|0|0"));
                QCOMPARE(agent.dump(QStringLiteral("PackageState")).size(), 2);
                QVERIFY(
                    agent.dump(QStringLiteral("ReschedulePolicy")).last().contains(QLatin1String("|1|1|")));
            }
        }
    }

    // The missing-database entry is not refused: its statements run, fail, and the failure is told.
    void missingDatabaseEntryIsTriedAndReported() {
        TestAgent agent;
        TaskTable table;
        table.add(QStringLiteral("1"), QStringLiteral("Database@Error;2;;;;"));
        Recorder recorder;
        QString dbErrorText;
        runCheckedRowWalk({{QStringLiteral("k1"), true}}, table, TaskAction::StopInstall,
                          agent.paths().database(), dbErrorText, recorder);
        QCOMPARE(
            recorder.events.mid(0, 4),
            QStringList({QStringLiteral("status: Updating SQLite : ReschedulePolicy"),
                         QStringLiteral("status: "), QStringLiteral("status: Updating SQLite : InvokerState"),
                         QStringLiteral("status: ")}));
        QVERIFY(recorder.events.at(4).startsWith(QLatin1String("message: Task 1 was not changed")));
        QVERIFY(!QFile::exists(agent.paths().database()));
    }
};

QTEST_GUILESS_MAIN(TestActions)
#include "tst_actions.moc"
