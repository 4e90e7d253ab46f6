// Today's part of the invoker log.
#include "InvokerLog.h"
#include "TestAgent.h"

#include <QLocale>
#include <QTest>

using namespace corvane;
using corvane::test::TestAgent;

class TestInvokerLog : public QObject {
    Q_OBJECT

private slots:
    void dateKey_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("key");
        QTest::newRow("December") << QDate(2026, 12, 7) << "07 Dec 2026";
        QTest::newRow("leading zero kept") << QDate(2027, 1, 1) << "01 Jan 2027";
        QTest::newRow("two-digit day") << QDate(2026, 5, 31) << "31 May 2026";
        QTest::newRow("September") << QDate(2026, 9, 15) << "15 Sep 2026";
    }
    void dateKey() {
        QFETCH(QDate, date);
        QFETCH(QString, key);
        const QLocale saved;
        QLocale::setDefault(
            QLocale(QLocale::French, QLocale::France)); // the key is English whatever the locale
        const QString built = invokerDateKey(date);
        QLocale::setDefault(saved);
        QCOMPARE(built, key);
    }

    void todaysPart_data() {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("from the first line of today")
            << QByteArray("Sun, 06 Dec 2026 10:00 old\r\nMon, 07 Dec 2026 08:00 first\r\n  detail\r\n"
                          "Mon, 07 Dec 2026 09:00 last\r\n")
            << QStringList{QStringLiteral("Mon, 07 Dec 2026 08:00 first"), QStringLiteral("  detail"),
                           QStringLiteral("Mon, 07 Dec 2026 09:00 last")};
        QTest::newRow("older lines after today's first are kept")
            << QByteArray("x 07 Dec 2026 a\n06 Dec 2026 late writer\nb")
            << QStringList{QStringLiteral("x 07 Dec 2026 a"), QStringLiteral("06 Dec 2026 late writer"),
                           QStringLiteral("b")};
        QTest::newRow("key in lower case does not match")
            << QByteArray("07 dec 2026 a\n7 Dec 2026 b\n") << QStringList{};
        QTest::newRow("no line of today") << QByteArray("06 Dec 2026 a\r\n") << QStringList{};
        QTest::newRow("empty log") << QByteArray() << QStringList{};
        QTest::newRow("blank lines kept, bytes one per character")
            << QByteArray("07 Dec 2026 \xe9t\xe9\n\n\xc3\xa9\n")
            << QStringList{QStringLiteral("07 Dec 2026 \u00e9t\u00e9"), QString(),
                           QStringLiteral("\u00c3\u00a9")};
    }
    void todaysPart() {
        QFETCH(QByteArray, log);
        QFETCH(QStringList, lines);
        TestAgent agent;
        QVERIFY(agent.writeInvokerLog(log));
        const InvokerLogPart part = readInvokerLog(agent.paths().invokerLog(), QDate(2026, 12, 7));
        QCOMPARE(part.status, InvokerLogPart::Status::Read);
        QCOMPARE(part.lines, lines);
    }

    void shownText() {
        InvokerLogPart part;
        part.lines = {QStringLiteral("a"), QStringLiteral("b")};
        QCOMPARE(part.shownText(), QStringLiteral("\r\na\r\nb"));
        part.lines.clear();
        QCOMPARE(part.shownText(), QString());
        part.status = InvokerLogPart::Status::Missing;
        QCOMPARE(part.shownText(), QStringLiteral("Can't find log file"));
    }

    void missingLog() {
        TestAgent agent;
        QCOMPARE(readInvokerLog(agent.paths().invokerLog(), QDate(2026, 12, 7)).status,
                 InvokerLogPart::Status::Missing);
    }
};

QTEST_GUILESS_MAIN(TestInvokerLog)
#include "tst_invokerlog.moc"
