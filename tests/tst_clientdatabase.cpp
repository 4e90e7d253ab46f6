// Loading the agent's operations and running statements on real SQLite files.
#include "TestAgent.h"
#include "agent/ClientDatabase.h"
#include "agent/TaskTable.h"
#include "base/SqliteConnection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(std::optional<QString>)

using namespace corvane;
using corvane::test::TestAgent;

namespace {
using Value = std::optional<QString>;
const Value kNull;
Value v(const char* text) {
    return QString::fromUtf8(text);
}
} // namespace

class TestClientDatabase : public QObject {
    Q_OBJECT

private slots:
    void loadsOneRow_data() {
        QTest::addColumn<QString>("filename");
        QTest::addColumn<Value>("state");
        QTest::addColumn<Value>("periodic");
        QTest::addColumn<Value>("timeT");
        QTest::addColumn<QString>("taskId");
        QTest::addColumn<QString>("record");
        QTest::newRow("no state, no policy")
            << "SDClientTask.CORE01_1234.xml" << kNull << kNull << kNull << "CORE01_1234"
            << "SDClientTask.CORE01_1234.xml;7;No;;n/a;n/a";
        QTest::newRow("policy, now") << "SDClientTask.12.xml" << v("2") << v("1") << v("1") << "12"
                                     << "SDClientTask.12.xml;2;Yes:Policy;Now;n/a;n/a";
        QTest::newRow("error, epoch") << "SDClientTask.12.xml" << v("4") << v("0") << v("0") << "12"
                                      << "SDClientTask.12.xml;4;Yes:Error;01/01/70 00:00;n/a;n/a";
        QTest::newRow("error, one day") << "SDClientTask.12.xml" << v("6") << v("0") << v("86400") << "12"
                                        << "SDClientTask.12.xml;6;Yes:Error;02/01/70 00:00;n/a;n/a";
        QTest::newRow("other policy kind shows its value")
            << "SDClientTask.12.xml" << v("6") << v("2") << v("1") << "12"
            << "SDClientTask.12.xml;6;Yes:2;Now;n/a;n/a";
        QTest::newRow("empty policy text is no policy")
            << "SDClientTask.12.xml" << v("6") << v("") << v("abc") << "12"
            << "SDClientTask.12.xml;6;No;;n/a;n/a";
        QTest::newRow("last dotted piece") << "SDClientTask.a.b_7.xml" << kNull << kNull << kNull << "b_7"
                                           << "SDClientTask.a.b_7.xml;7;No;;n/a;n/a";
        QTest::newRow("no markers") << "pkg.alpha" << kNull << kNull << kNull << "alpha"
                                    << "pkg.alpha;7;No;;n/a;n/a";
        QTest::newRow("markers anywhere, case kept")
            << "x.xmlSDClientTask.Q.XML" << kNull << kNull << kNull << "XML"
            << "x.xmlSDClientTask.Q.XML;7;No;;n/a;n/a";
        QTest::newRow("markers repeated")
            << "SDClientTask.SDClientTask.a.xml.b.xml" << kNull << kNull << kNull << "b"
            << "SDClientTask.SDClientTask.a.xml.b.xml;7;No;;n/a;n/a";
        QTest::newRow("a second marker reaching into the extension")
            << "SDClientTask.xSDClientTask.xml" << kNull << kNull << kNull << "xxml"
            << "SDClientTask.xSDClientTask.xml;7;No;;n/a;n/a";
        QTest::newRow("semicolon kept inside its field")
            << "SDClientTask.a;b.xml" << v("2") << v("5;6") << v("1") << "a;b"
            << "SDClientTask.a\uF03Bsb.xml;2;Yes:5\uF03Bs6;Now;n/a;n/a";
        QTest::newRow("non-ASCII name")
            << "SDClientTask.th\u00e8me.xml" << v("3") << kNull << kNull << "th\u00e8me"
            << "SDClientTask.th\u00e8me.xml;3;No;;n/a;n/a";
    }
    void loadsOneRow() {
        QFETCH(QString, filename);
        QFETCH(Value, state);
        QFETCH(Value, periodic);
        QFETCH(Value, timeT);
        QFETCH(QString, taskId);
        QFETCH(QString, record);
        TestAgent agent;
        QVERIFY2(agent.createDatabase(), qPrintable(agent.error()));
        QVERIFY2(agent.addOperation({filename, state, periodic, timeT}), qPrintable(agent.error()));
        TaskTable table;
        QString error = QStringLiteral("earlier");
        LoadResult result;
        QCOMPARE(loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error),
                 DatabaseRead::Read);
        QCOMPARE(result.rows, 1);
        QCOMPARE(table.keys(), QStringList{taskId});
        QCOMPARE(table.item(taskId), record);
        QCOMPARE(error, QStringLiteral("earlier")); // a success leaves the earlier error text
    }

    void keepsQueryOrder() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        for (const char* id : {"30", "10", "20"})
            QVERIFY(agent.addOperation(
                {QStringLiteral("SDClientTask.%1.xml").arg(QLatin1String(id)), {}, {}, {}}));
        TaskTable table;
        LoadResult result;
        QString error;
        loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error);
        QCOMPARE(result.rows, 3);
        QCOMPARE(table.keys(),
                 QStringList({QStringLiteral("30"), QStringLiteral("10"), QStringLiteral("20")}));
    }

    // A row that cannot be read is named and does not hide the rows after it: a duplicate task id is left
    // out, a reschedule time that is not a time leaves only its date cell empty.
    void badRowIsNamedAndTheRestLoads_data() {
        QTest::addColumn<QString>("secondFile");
        QTest::addColumn<Value>("periodic");
        QTest::addColumn<Value>("timeT");
        QTest::addColumn<QString>("problemPart");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("secondRecord");
        const QStringList all = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
        QTest::newRow("duplicate task id")
            << "other.SDClientTask.1.xml" << kNull << kNull << "appears twice"
            << QStringList{QStringLiteral("1"), QStringLiteral("3")} << QString();
        QTest::newRow("reschedule time not a number")
            << "SDClientTask.2.xml" << v("1") << v("soon") << "'soon'" << all
            << "SDClientTask.2.xml;7;Yes:Policy;;n/a;n/a";
        QTest::newRow("reschedule time missing") << "SDClientTask.2.xml" << v("0") << kNull << "time" << all
                                                 << "SDClientTask.2.xml;7;Yes:Error;;n/a;n/a";
        QTest::newRow("reschedule time beyond 9999")
            << "SDClientTask.2.xml" << v("0") << v("999999999999") << "999999999999" << all
            << "SDClientTask.2.xml;7;Yes:Error;;n/a;n/a";
    }
    void badRowIsNamedAndTheRestLoads() {
        QFETCH(QString, secondFile);
        QFETCH(Value, periodic);
        QFETCH(Value, timeT);
        QFETCH(QString, problemPart);
        QFETCH(QStringList, keys);
        QFETCH(QString, secondRecord);
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.1.xml"), {}, {}, {}}));
        QVERIFY(agent.addOperation({secondFile, {}, periodic, timeT}));
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.3.xml"), {}, {}, {}}));
        TaskTable table;
        QString error = QStringLiteral("earlier");
        LoadResult result;
        QCOMPARE(loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error),
                 DatabaseRead::Read);
        QCOMPARE(result.rows, keys.size());
        QCOMPARE(table.keys(), keys);
        if (!secondRecord.isEmpty())
            QCOMPARE(table.item(QStringLiteral("2")), secondRecord);
        QCOMPARE(result.rowProblems.size(), 1);
        QVERIFY2(result.rowProblems.first().contains(secondFile), qPrintable(result.rowProblems.first()));
        QVERIFY2(result.rowProblems.first().contains(problemPart), qPrintable(result.rowProblems.first()));
        QCOMPARE(error, QStringLiteral("earlier")); // the read as a whole succeeded
    }

    void queryErrorKeepsItsTextAfterASuccess() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.execute(QStringLiteral("DROP TABLE InvokerState")));
        TaskTable table;
        QString error;
        LoadResult result;
        QCOMPARE(loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error),
                 DatabaseRead::Failed);
        QCOMPARE(result.rows, 0);
        QVERIFY2(error.contains(QLatin1String("InvokerState")), qPrintable(error));
        const QString firstError = error;
        QCOMPARE(loadOperations(table, agent.paths().database(), QStringLiteral("SELECT 'a', 1, NULL, NULL"),
                                result, error),
                 DatabaseRead::Read);
        QCOMPARE(result.rows, 1);
        QCOMPARE(error, firstError);
    }

    void emptyArgumentsDoNothing() {
        TaskTable table;
        QString error = QStringLiteral("kept");
        LoadResult result;
        QCOMPARE(loadOperations(table, QString(), kLoadOperationsQuery, result, error), DatabaseRead::Read);
        QCOMPARE(result.rows, 0);
        QCOMPARE(loadOperations(table, QStringLiteral("/nonexistent/db"), QString(), result, error),
                 DatabaseRead::Read);
        QCOMPARE(table.count(), 0);
        QCOMPARE(error, QStringLiteral("kept"));
    }

    void missingDatabaseGivesItsEntryAndCreatesNothing() {
        TestAgent agent;
        TaskTable table;
        QString error = QStringLiteral("kept");
        LoadResult result;
        QCOMPARE(loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error),
                 DatabaseRead::Missing);
        QCOMPARE(result.rows, 0);
        QCOMPARE(table.keys(), QStringList{QStringLiteral("1")});
        QCOMPARE(table.item(QStringLiteral("1")), QStringLiteral("Database@Error;2;;;;"));
        QCOMPARE(error, QStringLiteral("kept"));

        // A connection for the actions' statements never creates the agent's database either.
        SqliteConnection writer(agent.paths().database());
        QVERIFY(!writer.exec(QStringLiteral("DELETE FROM PackageState"), error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(agent.paths().database()));
    }

    void notADatabaseIsAFailure() {
        TestAgent agent;
        QVERIFY(agent.writeFile(agent.paths().database(), "this is not a database file, just text"));
        TaskTable table;
        QString error;
        LoadResult result;
        QCOMPARE(loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error),
                 DatabaseRead::Failed);
        QCOMPARE(table.count(), 0);
        QVERIFY(!error.isEmpty());
    }

    void statementsReportAndChange() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.addPackageState(QStringLiteral("it's"), QStringLiteral("A"), 3));
        QVERIFY(agent.addPackageState(QStringLiteral("other"), QStringLiteral("B"), 3));
        SqliteConnection db(agent.paths().database());
        QString error;
        // A bound value stays a value, whatever quotes it holds.
        const QString deleteTask = QStringLiteral("DELETE FROM PackageState WHERE Task = ?1");
        QVERIFY(db.exec(deleteTask, {{SqlValue::Type::Text, "x' OR '1'='1"}}, error));
        QCOMPARE(db.changes(), 0);
        QVERIFY(db.exec(deleteTask, {{SqlValue::Type::Text, "it's"}}, error));
        QCOMPARE(db.changes(), 1);
        QCOMPARE(agent.dump(QStringLiteral("PackageState")), QStringList{QStringLiteral("2|other|B|3|0")});

        QVERIFY(!db.exec(QStringLiteral("DELETE FROM NoSuchTable"), error));
        QVERIFY2(error.contains(QLatin1String("NoSuchTable")), qPrintable(error));
        // A second statement smuggled behind the first is refused, not run.
        QVERIFY(!db.exec(QStringLiteral("SELECT 1; DELETE FROM PackageState"), error));
        QCOMPARE(agent.dump(QStringLiteral("PackageState")).size(), 1);
    }

    // The agent holds a write lock: a statement waits for the busy timeout, then fails and says so.
    void lockedDatabaseFailsAfterTheBusyTimeout() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.1.xml"), QStringLiteral("2"), {}, {}}));
        auto lock = std::make_unique<test::DatabaseLock>(agent);
        QVERIFY(lock->isHeld());

        QElapsedTimer timer;
        timer.start();
        QString errText;
        SqliteConnection db(agent.paths().database());
        QVERIFY(!db.exec(QStringLiteral("UPDATE InvokerState SET state=6"), errText));
        const qint64 waited = timer.elapsed();
        QVERIFY2(errText.contains(QLatin1String("locked")), qPrintable(errText));
        QVERIFY2(waited >= 1500 && waited < test::scaledMs(5000), qPrintable(QString::number(waited)));

        TaskTable table;
        LoadResult result;
        QCOMPARE(loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, errText),
                 DatabaseRead::Failed);
        lock.reset();
        QCOMPARE(agent.dump(QStringLiteral("InvokerState")), QStringList{QStringLiteral("1|1|2|0|0")});
    }
};

QTEST_GUILESS_MAIN(TestClientDatabase)
#include "tst_clientdatabase.moc"
