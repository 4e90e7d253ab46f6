// Merging the scheduled-task file into the task table.
#include "TestAgent.h"
#include "agent/ScheduledTasks.h"
#include "agent/TaskTable.h"

#include <QDir>
#include <QTest>

using namespace corvane;
using corvane::test::TestAgent;

namespace {
// A table as the database loader leaves it: two operations and, when asked, the missing-database entry.
TaskTable loadedTable() {
    TaskTable table;
    table.add(QStringLiteral("A1"), QStringLiteral("SDClientTask.A1.xml;2;Yes:Policy;Now;n/a;n/a"));
    table.add(QStringLiteral("B2"), QStringLiteral("SDClientTask.B2.xml;6;No;;n/a;n/a"));
    return table;
}

QStringList entries(const TaskTable& table) {
    QStringList lines;
    for (int i = 0; i < table.count(); ++i)
        lines << table.keys().at(i) + QLatin1Char('=') + table.items().at(i);
    return lines;
}
} // namespace

class TestScheduledTasks : public QObject {
    Q_OBJECT

private slots:
    void merge_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("expected");
        const QString a1 = QStringLiteral("A1=SDClientTask.A1.xml;2;Yes:Policy;Now;n/a;n/a");
        const QString b2 = QStringLiteral("B2=SDClientTask.B2.xml;6;No;;n/a;n/a");

        QTest::newRow("known task completed in place")
            << QByteArray("<tasks><task taskid=\"A1\" state=\"Active\" time=\"0\"/></tasks>")
            << QStringList{QStringLiteral("A1=SDClientTask.A1.xml;2;Yes:Policy;Now;Active;01/01/70 00:00"),
                           b2};
        QTest::newRow("file-only task appended, in file order")
            << QByteArray("<x><task taskid=\"Z\" state=\"pending\" time=\"90\"/>"
                          "<task taskid=\"Y\" state=\"done\" time=\"86400\"/></x>")
            << QStringList{a1, b2, QStringLiteral("Z=Z;7;No;;pending;01/01/70 00:01"),
                           QStringLiteral("Y=Y;7;No;;done;02/01/70 00:00")};
        QTest::newRow("same id twice gives eight fields")
            << QByteArray(
                   "<r><task taskid=\"B2\" state=\"one\" time=\"0\"/><task taskid=\"B2\" state=\"two\" "
                   "time=\"60\"/></r>")
            << QStringList{
                   a1, QStringLiteral("B2=SDClientTask.B2.xml;6;No;;one;01/01/70 00:00;two;01/01/70 00:01")};
        QTest::newRow("incomplete or bad tasks skipped")
            << QByteArray("<r><task state=\"s\" time=\"0\"/><task taskid=\"A1\" time=\"0\"/>"
                          "<task taskid=\"A1\" state=\"s\"/><task taskid=\"A1\" state=\"s\" time=\"soon\"/>"
                          "<task taskid=\"N\" state=\"s\" time=\"999999999999\"/>"
                          "<task taskid=\"B2\" state=\"ok\" time=\"0\"/></r>")
            << QStringList{a1, QStringLiteral("B2=SDClientTask.B2.xml;6;No;;ok;01/01/70 00:00")};
        QTest::newRow("only the root's own task children")
            << QByteArray("<r><group><task taskid=\"A1\" state=\"deep\" time=\"0\"/></group>"
                          "<Task taskid=\"A1\" state=\"case\" time=\"0\"/>"
                          "<ns:task xmlns:ns=\"urn:x\" taskid=\"A1\" state=\"ns\" time=\"0\"/></r>")
            << QStringList{a1, b2};
        QTest::newRow("root without tasks") << QByteArray("<tasks/>") << QStringList{a1, b2};
        QTest::newRow("broken file merges nothing, not even its first tasks")
            << QByteArray("<r><task taskid=\"A1\" state=\"s\" time=\"0\"/><task taskid=\"Q\" state=\"s\" "
                          "time=\"0\"/><task")
            << QStringList{a1, b2};
        QTest::newRow("garbage after the root merges nothing")
            << QByteArray("<r><task taskid=\"Q\" state=\"s\" time=\"0\"/></r><r/>") << QStringList{a1, b2};
        QTest::newRow("empty file") << QByteArray() << QStringList{a1, b2};
        QTest::newRow("declaration, single quotes, white space inside the tags")
            << QByteArray("<?xml version='1.0' encoding='UTF-8'?>\r\n<r >\n <task taskid='A1'\tstate = \"s\" "
                          "time=\"60\" ></task>\n</r >\n")
            << QStringList{QStringLiteral("A1=SDClientTask.A1.xml;2;Yes:Policy;Now;s;01/01/70 00:01"), b2};
        QTest::newRow("tab and line break in a value read as spaces")
            << QByteArray("<r><task taskid=\"A1\" state=\"a\tb\nc\" time=\"0\"/></r>")
            << QStringList{QStringLiteral("A1=SDClientTask.A1.xml;2;Yes:Policy;Now;a b c;01/01/70 00:00"),
                           b2};
        QTest::newRow("a task left open merges nothing")
            << QByteArray("<r><task taskid=\"A1\" state=\"s\" time=\"0\">,/task></r>") << QStringList{a1, b2};
        QTest::newRow("an attribute twice merges nothing")
            << QByteArray("<r><task taskid=\"A1\" taskid=\"B2\" state=\"s\" time=\"0\"/></r>")
            << QStringList{a1, b2};
        QTest::newRow("state kept as written, entities decoded")
            << QByteArray("<r><task taskid=\"A1\" state=\"ACTIVE &amp; Co\" time=\"0\"/></r>")
            << QStringList{
                   QStringLiteral("A1=SDClientTask.A1.xml;2;Yes:Policy;Now;ACTIVE & Co;01/01/70 00:00"), b2};
    }
    void merge() {
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, expected);
        TestAgent agent;
        QVERIFY(agent.writeFile(agent.paths().scheduledTasks(), xml));
        TaskTable table = loadedTable();
        QString error;
        mergeScheduledTasks(table, agent.paths().scheduledTasks(), error);
        QCOMPARE(entries(table), expected);
    }

    // A file that cannot be merged merges nothing, and the reason names the file and where it breaks.
    void brokenFileIsReported_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("reason");
        QTest::newRow("cut short") << QByteArray("<r>\n<task") << "line 2";
        const QByteArray task = "  <task taskid=\"A\" state=\"s\" time=\"0\"/>\r\n";
        QTest::newRow("a byte that is not UTF-8 on line 6")
            << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r>\r\n" + task.repeated(3) +
                   "  <task taskid=\"\xc3\xa9\xff\" state=\"s\" time=\"0\"/>\r\n</r>\r\n"
            << "a byte that is not UTF-8 at line 6, column 18";
        QTest::newRow("nested 257 levels")
            << "<r><task taskid=\"1\" state=\"s\" time=\"0\">" + QByteArray("<a>").repeated(255) +
                   QByteArray("</a>").repeated(255) + "</task></r>"
            << "elements nested deeper than 256 levels at line 1";
    }
    void brokenFileIsReported() {
        QFETCH(QByteArray, document);
        QFETCH(QString, reason);
        TestAgent agent;
        TaskTable table = loadedTable();
        const QStringList before = entries(table);
        QString error;
        QVERIFY(
            mergeScheduledTasks(table, agent.paths().scheduledTasks(), error)); // missing: nothing to report
        QVERIFY(agent.writeFile(agent.paths().scheduledTasks(), document));
        QVERIFY(!mergeScheduledTasks(table, agent.paths().scheduledTasks(), error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(agent.paths().scheduledTasks())), qPrintable(error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(entries(table), before);
    }

    // The missing-database entry has no unmerged tail: a task "1" appends two fields behind its empty ones.
    void taskOneOnTheMissingDatabaseEntry() {
        TestAgent agent;
        QVERIFY(agent.writeScheduledTasks(
            {{QStringLiteral("1"), QStringLiteral("active"), QStringLiteral("0")}}));
        TaskTable table;
        table.add(QStringLiteral("1"), QStringLiteral("Database@Error;2;;;;"));
        QString error;
        mergeScheduledTasks(table, agent.paths().scheduledTasks(), error);
        QCOMPARE(table.item(QStringLiteral("1")),
                 QStringLiteral("Database@Error;2;;;;;active;01/01/70 00:00"));
    }
};

QTEST_GUILESS_MAIN(TestScheduledTasks)
#include "tst_scheduledtasks.moc"
