// Building the list's rows from the task table: texts, colours, icons, tags, order and scroll target.
#include "FixedClock.h"
#include "TestAgent.h"
#include "agent/TaskTable.h"
#include "session/TaskListRefresh.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskList.h"
#include "tasklist/TaskListExport.h"
#include "tasklist/TaskListLoader.h"

#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(std::optional<QString>)

using namespace corvane;
using corvane::test::TestAgent;

namespace {
using Answer = std::optional<QString>;

class RecordingFeedback : public Feedback {
public:
    QStringList statuses;
    void setStatus(const QString& text) override { statuses << text; }
};

QString describe(const TaskRow& row) {
    return QStringList{
        row.key,         row.application,    row.database,    row.sdclient,       row.install,
        row.reschedule,  row.rescheduleDate, kindLetter(row), iconName(row.icon), colourName(row.colour),
        tagName(row.tag)}
        .join(QLatin1Char('|'));
}
} // namespace

class TestTaskList : public QObject {
    Q_OBJECT

private slots:
    // CSV quotes a field holding a comma, a quote or a line break and doubles its quotes; tab-separated text
    // has no quoting, so a tab or line break inside a cell becomes a space.
    void csvAndTabSeparatedText() {
        TaskRow plain = buildTaskRow(QStringLiteral("7"), QStringLiteral("a.xml;6;No;;done;01/02/26 10:00"),
                                     QStringLiteral("Office"));
        TaskRow awkward = buildTaskRow(QStringLiteral("8"), QStringLiteral("b.xml;2;;;;"),
                                       QStringLiteral("Suite, \"Pro\"\r\nEdition\tx"));
        const QString csv = taskListCsv({plain, awkward});
        QCOMPARE(csv,
                 QStringLiteral("Task,Application,Database,SDClient,Install,Reschedule,Reschedule Date\r\n"
                                "7,Office,Completed,done,01/02/26 10:00,No,\r\n"
                                "8,\"Suite, \"\"Pro\"\"\r\nEdition\tx\",Waiting,,,,\r\n"));
        QCOMPARE(
            taskListTsv({awkward}),
            QStringLiteral("Task\tApplication\tDatabase\tSDClient\tInstall\tReschedule\tReschedule Date\n"
                           "8\tSuite, \"Pro\"  Edition x\tWaiting\t\t\t\t\n"));

        // A cell a spreadsheet would run as a formula gets a leading quote in CSV, and only there.
        QStringList cells;
        for (const char* start : {"=", "+", "-", "@", "\t", "\r"}) {
            const QString name = QLatin1String(start) + QStringLiteral("SUM(A1)");
            const QString csvLine =
                taskListCsv({buildTaskRow(QStringLiteral("9"), QStringLiteral("c.xml;2;;;;"), name)})
                    .split(QStringLiteral("\r\n"))
                    .at(1);
            cells << csvLine.section(QLatin1Char(','), 1, 1);
        }
        QCOMPARE(cells.join(QLatin1Char('|')),
                 QStringLiteral("'=SUM(A1)|'+SUM(A1)|'-SUM(A1)|'@SUM(A1)|'\tSUM(A1)|\"'\rSUM(A1)\""));
        const TaskRow formula =
            buildTaskRow(QStringLiteral("=1+1"), QStringLiteral("d.xml;2;;;;"), QStringLiteral("=1+1"));
        QVERIFY(taskListCsv({formula}).contains(QLatin1String("\r\n'=1+1,'=1+1,")));
        QVERIFY(taskListTsv({formula}).contains(QLatin1String("\n=1+1\t=1+1\t")));
    }

    void row_data() {
        QTest::addColumn<QString>("record");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("expected");
        const Answer name = QStringLiteral("Office");
        QTest::newRow("package row")
            << "SDClientTask.7.xml;2;Yes:Policy;Now;pending;01/01/70 00:00" << name
            << "k7|Office|Waiting|pending|01/01/70 00:00|Yes:Policy|Now|S|policy|default|policy";
        QTest::newRow("error reschedule is red")
            << "f;6;Yes:Error;02/01/70 00:00;n/a;n/a" << name
            << "k7|Office|Completed|n/a|n/a|Yes:Error|02/01/70 00:00|S|policy|red|policy";
        QTest::newRow("green wins over red")
            << "f;4;Yes:Error;Now;Active;x" << name
            << "k7|Office|Active|Active|x|Yes:Error|Now|S|policy|green|policy";
        QTest::newRow("scheduler state compared in any case")
            << "f;4;No;;aCtIvE;x" << name << "k7|Office|Active|aCtIvE|x|No||S|policy|green|policy";
        QTest::newRow("active invoker, completed scheduler")
            << "f;4;No;;completed;x" << name << "k7|Office|Active|completed|x|No||S|policy|default|policy";
        QTest::newRow("grey wins over green: no descriptor")
            << "f;4;Yes:Error;Now;active;x" << Answer(QStringLiteral("Unknow;P"))
            << "k7|Unknow|Active|active|x|Yes:Error|Now|P|push|grey|";
        QTest::newRow("descriptor of another kind") << "f;6;No;;n/a;n/a" << Answer(QStringLiteral("Unknow;L"))
                                                    << "k7|Unknow|Completed|n/a|n/a|No||L|launchpad|grey|";
        QTest::newRow("unreadable descriptor shown as another kind")
            << "f;6;No;;n/a;n/a" << Answer() << "k7|Unknow|Completed|n/a|n/a|No||L|launchpad|grey|";
        QTest::newRow("unknown kind letter has no icon")
            << "f;6;No;;n/a;n/a" << Answer(QStringLiteral("Unknow;Q"))
            << "k7|Unknow|Completed|n/a|n/a|No||Q||grey|";
        QTest::newRow("file-only task")
            << "7;7;No;;pending;01/01/70 00:01" << Answer(QStringLiteral("Unknow;P"))
            << "k7|Unknow|n/a|pending|01/01/70 00:01|No||P|push|grey|";
        QTest::newRow("missing database entry")
            << "Database@Error;2;;;;" << Answer(QStringLiteral("Can't find SQLite Database"))
            << "k7|Can't find SQLite Database|Waiting|||||S|policy|default|policy";
        QTest::newRow("state code out of range: empty cell, no colour")
            << "f;9;Yes:Error;Now;active;x" << name
            << "k7|Office||active|x|Yes:Error|Now|S|policy|default|policy";
        QTest::newRow("state code not a number")
            << "f;four;Yes:Error;Now;active;x" << name
            << "k7|Office||active|x|Yes:Error|Now|S|policy|default|policy";
        QTest::newRow("eight fields: the first six show")
            << "f;6;No;;one;t1;two;t2" << name << "k7|Office|Completed|one|t1|No||S|policy|default|policy";
        QTest::newRow("short record: missing cells empty")
            << "f;4" << name << "k7|Office|Active|||||S|policy|default|policy";
    }
    void row() {
        QFETCH(QString, record);
        QFETCH(Answer, answer);
        QFETCH(QString, expected);
        QCOMPARE(describe(buildTaskRow(QStringLiteral("7"), record, answer)), expected);
    }

    void scrollTarget() {
        QList<TaskRow> rows(4);
        QCOMPARE(scrollTargetRow(rows), -1);
        rows[1].sdclient = QStringLiteral("Active soon"); // begins with "Active", not green itself
        QCOMPARE(scrollTargetRow(rows), -1);              // no green row: no scroll
        rows[3].colour = TaskRow::Colour::Green;
        rows[3].database = QStringLiteral("Active");
        QCOMPARE(scrollTargetRow(rows), 1);
        rows[1].sdclient = QStringLiteral("active"); // the search is case-sensitive
        QCOMPARE(scrollTargetRow(rows), 3);
    }

    // The whole chain on a realistic agent: every kind of row, in table order, with the progress texts.
    void demoAgentGivesEveryKindOfRow() {
        TestAgent agent;
        QString error;
        const QDateTime now(QDate(2026, 12, 7), QTime(10, 0));
        QVERIFY2(fake::writeDemoAgent(agent.root(), now, error), qPrintable(error));
        RecordingFeedback feedback;
        const TaskListSnapshot snapshot = loadTaskList(agent.paths(), feedback);
        QCOMPARE(snapshot.databaseRead, DatabaseRead::Read);
        QCOMPARE(readProblems(snapshot), QStringList());
        QCOMPARE(feedback.statuses, QStringList({QStringLiteral("Loading SQLite : InvokerState"), QString(),
                                                 QStringLiteral("Loading Xml : SDClient.Tasks"), QString()}));
        QCOMPARE(snapshot.rows.size(), 12);
        QCOMPARE(snapshot.rows.size(), snapshot.table.count());
        QStringList keys, colours, icons;
        for (const TaskRow& row : snapshot.rows) {
            keys << row.key;
            colours << colourName(row.colour);
            icons << iconName(row.icon);
        }
        QCOMPARE(keys.first(), QStringLiteral("kCORE01_1201"));
        QCOMPARE(keys.mid(10), QStringList({QStringLiteral("k1311"), QStringLiteral("k1312")}));
        for (const char* colour : {"default", "red", "green", "grey"})
            QVERIFY2(colours.contains(QLatin1String(colour)), colour);
        for (const char* icon : {"policy", "push", "launchpad"})
            QVERIFY2(icons.contains(QLatin1String(icon)), icon);
        QCOMPARE(snapshot.rows.at(4).application,
                 QStringLiteral("Gestionnaire de th\u00e8mes \u00e9l\u00e9gants"));
        QCOMPARE(snapshot.rows.at(0).install, QStringLiteral("06/12/26 10:00"));
        QCOMPARE(scrollTargetRow(snapshot.rows), 2);
    }

    void missingDatabaseStillShowsScheduledTasks() {
        TestAgent agent;
        QVERIFY(agent.writeScheduledTasks(
            {{QStringLiteral("55"), QStringLiteral("pending"), QStringLiteral("0")}}));
        RecordingFeedback feedback;
        const TaskListSnapshot snapshot = loadTaskList(agent.paths(), feedback);
        QCOMPARE(snapshot.databaseRead, DatabaseRead::Missing);
        QCOMPARE(snapshot.rows.size(), 2);
        // Shown as a package, but no task stands behind it: it cannot be checked.
        QCOMPARE(describe(snapshot.rows.at(0)),
                 QStringLiteral("k1|Can't find SQLite Database|Waiting|||||S|policy|default|"));
        QCOMPARE(snapshot.rows.at(1).key, QStringLiteral("k55"));
    }

    // A scheduled-task file of more tasks than any agent knows: the list holds a bounded number and says how
    // many it left out; a task named over and over keeps a bounded record that still reads as the first.
    void hugeScheduledTaskFileIsBounded() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.A1.xml"), QStringLiteral("2"), {}, {}}));
        QByteArray xml = "<tasks>";
        for (int i = 0; i < 20000; ++i)
            xml += "<task taskid=\"A1\" state=\"active\" time=\"60\"/>";
        for (int i = 0; i < kMaxListedTasks + 10; ++i)
            xml += "<task taskid=\"N" + QByteArray::number(i) + "\" state=\"pending\" time=\"0\"/>";
        QVERIFY(agent.writeFile(agent.paths().scheduledTasks(), xml + "</tasks>"));

        RecordingFeedback feedback;
        const TaskListSnapshot snapshot = loadTaskList(agent.paths(), feedback);
        QCOMPARE(snapshot.rows.size(), kMaxListedTasks);
        QCOMPARE(snapshot.table.overflow(), 11); // the database's task came first
        QCOMPARE(snapshot.rows.first().sdclient, QStringLiteral("active"));
        QCOMPARE(snapshot.rows.first().install, QStringLiteral("01/01/70 00:01"));
        QVERIFY(snapshot.table.items().first().size() < 5000);
        QCOMPARE(snapshot.rows.last().key, QStringLiteral("kN%1").arg(kMaxListedTasks - 2));

        // The window's first panel and the command line say it.
        test::FixedClock clock;
        TaskListRefresh refresh(agent.paths(), clock);
        QSignalSpy ended(&refresh, &TaskListRefresh::readEnded);
        refresh.start();
        QVERIFY(ended.wait(60000));
        QVERIFY2(refresh.notice().contains(QLatin1String("11 more were left out")),
                 qPrintable(refresh.notice()));
        QCOMPARE(refresh.table().count(), kMaxListedTasks);
    }
};

QTEST_GUILESS_MAIN(TestTaskList)
#include "tst_tasklist.moc"
