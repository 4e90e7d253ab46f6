// The task table, the task record, state names, agent time and the agent's paths.
#include "agent/AgentPaths.h"
#include "agent/AgentTime.h"
#include "agent/TaskRecord.h"
#include "agent/TaskTable.h"
#include "agent/Workstation.h"

#include <QDir>
#include <QLocale>
#include <QTest>

using namespace corvane;

class TestAgentData : public QObject {
    Q_OBJECT

private slots:
    void taskTableKeepsInsertionOrder() {
        TaskTable table;
        QVERIFY(table.add(QStringLiteral("b"), QStringLiteral("1")));
        QVERIFY(table.add(QStringLiteral("a"), QStringLiteral("2")));
        QVERIFY(table.add(QStringLiteral("A"), QStringLiteral("3"))); // keys are case-sensitive
        QVERIFY(!table.add(QStringLiteral("a"), QStringLiteral("refused")));
        *table.find(QStringLiteral("b")) = QStringLiteral("replaced");
        QVERIFY(!table.find(QStringLiteral("absent")));
        QCOMPARE(table.keys(), QStringList({QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("A")}));
        QCOMPARE(table.items(),
                 QStringList({QStringLiteral("replaced"), QStringLiteral("2"), QStringLiteral("3")}));
        QCOMPARE(table.item(QStringLiteral("a")), QStringLiteral("2"));
        QCOMPARE(table.item(QStringLiteral("absent")), QString());
        QCOMPARE(table.count(), 3);
    }

    void recordSplitsAtEverySemicolon_data() {
        QTest::addColumn<QString>("record");
        QTest::addColumn<int>("fieldCount");
        QTest::addColumn<QString>("field4");
        QTest::newRow("database entry") << "SDClientTask.1.xml;7;No;;n/a;n/a" << 6 << "n/a";
        QTest::newRow("missing database") << "Database@Error;2;;;;" << 6 << "";
        QTest::newRow("merged twice") << "1;7;No;;a;01/01/70 00:00;b;01/01/70 00:01" << 8 << "a";
        QTest::newRow("damaged, short") << "x;4" << 2 << "";
        QTest::newRow("empty") << "" << 1 << "";
    }
    void recordSplitsAtEverySemicolon() {
        QFETCH(QString, record);
        QFETCH(int, fieldCount);
        QFETCH(QString, field4);
        const QStringList fields = TaskRecord::split(record);
        QCOMPARE(fields.size(), fieldCount);
        QCOMPARE(TaskRecord::field(fields, TaskRecord::kScheduledState), field4);
        QCOMPARE(fields.join(QLatin1Char(';')), record);
    }

    void stateNames_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << "0"
                           << "Resume";
        QTest::newRow("4") << "4"
                           << "Active";
        QTest::newRow("6") << "6"
                           << "Completed";
        QTest::newRow("7") << "7"
                           << "n/a";
        QTest::newRow("8 has no name") << "8"
                                       << "";
        QTest::newRow("negative") << "-1"
                                  << "";
        QTest::newRow("not a number") << "four"
                                      << "";
        QTest::newRow("fraction") << "4.5"
                                  << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void stateNames() {
        QFETCH(QString, code);
        QFETCH(QString, name);
        QCOMPARE(StateNames::name(code), name);
    }

    void agentTime_data() {
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<QString>("text"); // empty: the conversion fails
        QTest::newRow("epoch") << "0"
                               << "01/01/70 00:00";
        QTest::newRow("seconds dropped, not rounded") << "90"
                                                      << "01/01/70 00:01";
        QTest::newRow("59 seconds") << "59"
                                    << "01/01/70 00:00";
        QTest::newRow("one day") << "86400"
                                 << "02/01/70 00:00";
        QTest::newRow("24-hour clock") << "50400"
                                       << "01/01/70 14:00";
        QTest::newRow("one second before 1970") << "-1"
                                                << "31/12/69 23:59";
        QTest::newRow("leap day 2024") << "1709208000"
                                       << "29/02/24 12:00";
        QTest::newRow("year 2000") << "946684800"
                                   << "01/01/00 00:00";
        QTest::newRow("beyond 32 bits") << "4102444800"
                                        << "01/01/00 00:00";
        QTest::newRow("last minute of 9999") << "253402300799"
                                             << "31/12/99 23:59";
        QTest::newRow("year 10000") << "253402300800"
                                    << "";
        QTest::newRow("first day of year 100") << "-59011459200"
                                               << "01/01/00 00:00";
        QTest::newRow("year 99") << "-59011459201"
                                 << "";
        QTest::newRow("huge") << "9223372036854775807"
                              << "";
        QTest::newRow("too big for 64 bits") << "99999999999999999999"
                                             << "";
        QTest::newRow("surrounding spaces") << " 60 "
                                            << "01/01/70 00:01";
        QTest::newRow("fraction") << "1.5"
                                  << "";
        QTest::newRow("letters") << "12ab"
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void agentTime() {
        QFETCH(QString, seconds);
        QFETCH(QString, text);
        QCOMPARE(agentTimeText(seconds).value_or(QString()), text);
    }

    void agentTimeIgnoresLocale() {
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
        const QString text = agentTimeText(QStringLiteral("86400")).value_or(QString());
        QLocale::setDefault(saved);
        QCOMPARE(text, QStringLiteral("02/01/70 00:00"));
    }

    void pathsBelowARoot() {
        const AgentPaths paths(QStringLiteral("/tmp/agent/"));
        QCOMPARE(paths.database(),
                 QStringLiteral("/tmp/agent/Documents and Settings/All Users/Application Data/"
                                "LANDesk/ManagementSuite/Database/LDClientDB.db3"));
        QCOMPARE(paths.descriptor(QStringLiteral("SDClientTask.1.xml")),
                 QStringLiteral("/tmp/agent/Documents and Settings/All Users/Application Data/LANDesk/"
                                "ManagementSuite/landesk/files/SDClientTask.1.xml"));
        QCOMPARE(paths.invokerLog(),
                 QStringLiteral("/tmp/agent/Program Files/LANDesk/LDClient/policy.client.invoker.log"));
        QCOMPARE(paths.scheduledTasks(),
                 QStringLiteral("/tmp/agent/Program Files/LANDesk/LDClient/sdclient.tasks.xml"));
        QCOMPARE(paths.synchroniser(),
                 QStringLiteral("/tmp/agent/Program Files/LANDesk/LDClient/policy.sync.exe"));
        QCOMPARE(paths.syncLog(),
                 QStringLiteral("/tmp/agent/Program Files/LANDesk/LDClient/policy.sync.log"));
    }

    // A typed name reaches that workstation's administrative share and nothing else.
    void workstationNames_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("root"); // empty: refused
        QTest::newRow("plain") << "WS0123"
                               << "\\\\WS0123\\C$";
        QTest::newRow("as a share path, with space") << "  \\\\ws0123.corp.example "
                                                     << "\\\\ws0123.corp.example\\C$";
        QTest::newRow("address") << "10.1.2.3"
                                 << "\\\\10.1.2.3\\C$";
        QTest::newRow("empty") << " \\\\ "
                               << "";
        QTest::newRow("another share") << "WS0123\\D$"
                                       << "";
        QTest::newRow("a folder up") << "WS0123/../x"
                                     << "";
        QTest::newRow("dots") << "WS..corp"
                              << "";
        QTest::newRow("space inside") << "WS 0123"
                                      << "";
        QTest::newRow("drive") << "C:"
                               << "";
        QTest::newRow("too long") << QString(254, QLatin1Char('a')) << "";
    }
    void workstationNames() {
        QFETCH(QString, typed);
        QFETCH(QString, root);
        Workstation workstation;
        QString error;
        QCOMPARE(workstationByName(typed, workstation, error), !root.isEmpty());
        QCOMPARE(workstation.root, root);
        QCOMPARE(error.isEmpty(), !root.isEmpty());
        if (!root.isEmpty())
            QVERIFY(workstation.remote);
    }

#ifdef Q_OS_WIN
    // Below a share the agent's fixed paths, Corvane's journal included, are the workstation's own.
    void pathsBelowAShare() {
        const AgentPaths paths(administrativeShare(QStringLiteral("WS0123")));
        QCOMPARE(QDir::toNativeSeparators(paths.journal()),
                 QStringLiteral("\\\\WS0123\\C$\\ProgramData\\Corvane\\journal.db3"));
        QCOMPARE(
            QDir::toNativeSeparators(paths.invokerLog()),
            QStringLiteral("\\\\WS0123\\C$\\Program Files\\LANDesk\\LDClient\\policy.client.invoker.log"));
    }
#endif
};

QTEST_GUILESS_MAIN(TestAgentData)
#include "tst_agentdata.moc"
