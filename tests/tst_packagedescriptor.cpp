// Reading a package's name out of its descriptor.
#include "DescriptorAnswer.h"
#include "TestAgent.h"
#include "agent/PackageDescriptor.h"

#include <QTest>

using namespace corvane;
using corvane::test::TestAgent;

namespace {
const QByteArray kHead = "<?xml version=\"1.0\"?>\r\n<SDClientTask>\r\n";
}

class TestPackageDescriptor : public QObject {
    Q_OBJECT

private slots:
    void name_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("answer"); // "(failure)": the reader gives no answer
        const QByteArray tail = "<PrimaryFile>setup.exe</PrimaryFile></Options></Package>";
        QTest::newRow("one line") << kHead +
                                         "<Package><Options><Type>S</Type><Name>Office Tools 2</Name>"
                                         "<Description>x</Description>" +
                                         tail
                                  << "Office Tools 2";
        QTest::newRow("over several lines")
            << kHead +
                   "<Package><Options><Type>S</Type>\r\n<Name>Office Tools 2</Name>\n<Description>x"
                   "</Description>\r\n" +
                   tail
            << "Office Tools 2";
        QTest::newRow("tags split across lines")
            << QByteArray("<Package><Opt\r\nions><Type>S</Type><Na\nme>Split</Na\r\nme><Description>x</Desc\n"
                          "ription><PrimaryFile>")
            << "Split";
        QTest::newRow("spaces kept") << QByteArray("<Package><Options><Type><Name>  Padded </Name>"
                                                   "</Description><PrimaryFile>")
                                     << "  Padded ";
        QTest::newRow("utf-8 e grave and e acute")
            << QByteArray("<Package><Options><Type><Name>Th\xc3\xa8mes \xc3\xa9t\xc3\xa9</Name>"
                          "</Description><PrimaryFile>")
            << QStringLiteral("Th\u00e8mes \u00e9t\u00e9");
        QTest::newRow("utf-8 other accents, and beyond Latin-1")
            << QByteArray("<Package><Options><Type><Name>\xc3\xa0 \xc3\xa7 \xc3\xaa \xc5\x93 \xe2\x82\xac"
                          "</Name></Description><PrimaryFile>")
            << QStringLiteral("\u00e0 \u00e7 \u00ea \u0153 \u20ac");
        QTest::newRow("windows-1252")
            << QByteArray("<Package><Options><Type><Name>Caf\xe9 \xe0 \x80 \x9c\x85 \x81</Name></Description>"
                          "<PrimaryFile>")
            << QStringLiteral("Caf\u00e9 \u00e0 \u20ac \u0153\u2026 \u0081");
        QTest::newRow("invalid utf-8 elsewhere, valid name")
            << QByteArray("<Package><Options><Type>\xff<Name>\xc3\xa9</Name></Description><PrimaryFile>")
            << QStringLiteral("\u00e9");
        // Saved as UTF-16, a byte order mark first: read as the text it declares.
        const QString utf16 =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-16\"?>\r\n<Package><Options>"
                           "<Type>S</Type>\r\n<Name>B\u00fcro \u20ac</Name><Description>x"
                           "</Description><PrimaryFile>");
        QByteArray littleEndian("\xff\xfe");
        QByteArray bigEndian("\xfe\xff");
        for (const QChar c : utf16) {
            littleEndian += char(c.unicode() & 0xff);
            littleEndian += char(c.unicode() >> 8);
            bigEndian += char(c.unicode() >> 8);
            bigEndian += char(c.unicode() & 0xff);
        }
        QTest::newRow("utf-16 little-endian") << littleEndian << QStringLiteral("B\u00fcro \u20ac");
        QTest::newRow("utf-16 big-endian") << bigEndian << QStringLiteral("B\u00fcro \u20ac");
        QTest::newRow("no closing marker")
            << QByteArray("<Package><Options><Type><Name>N</Name></Description>") << "Unknow;L";
        QTest::newRow("no opening marker, other spacing")
            << QByteArray("<Package> <Options><Type><Name>N</Name></Description><PrimaryFile>") << "Unknow;L";
        QTest::newRow("markers in other case")
            << QByteArray("<package><options><type><Name>N</Name></description><primaryfile>") << "Unknow;L";
        QTest::newRow("empty file") << QByteArray() << "Unknow;L";
        QTest::newRow("close tag without open tag")
            << QByteArray("<Package><Options><Type>Short</Name></Description><PrimaryFile>")
            << "age><Options><Type>Short";
        QTest::newRow("first name only")
            << QByteArray(
                   "<Package><Options><Type><Name>One</Name><Name>Two</Name></Description><PrimaryFile>")
            << "One";
        QTest::newRow("empty name") << QByteArray(
                                           "<Package><Options><Type><Name></Name></Description><PrimaryFile>")
                                    << "";
        QTest::newRow("closing marker before opening")
            << QByteArray("</Description><PrimaryFile><Package><Options><Type><Name>N</Name>") << "(failure)";
        QTest::newRow("no name tags at all")
            << QByteArray("<Package><Options><Type>S</Description><PrimaryFile>") << "(failure)";
        QTest::newRow("close tag before open tag")
            << QByteArray("<Package><Options><Type></Name>x<Name></Description><PrimaryFile>") << "(failure)";
        QTest::newRow("name tags outside the segment")
            << QByteArray("<Package><Options><Type></Description><PrimaryFile><Name>N</Name>") << "(failure)";
    }
    void name() {
        QFETCH(QByteArray, content);
        QFETCH(QString, answer);
        TestAgent agent;
        const QString path = agent.paths().descriptor(QStringLiteral("SDClientTask.1.xml"));
        QVERIFY(agent.writeFile(path, content));
        QString error;
        QCOMPARE(test::descriptorAnswer(path, error).value_or(QStringLiteral("(failure)")), answer);
    }

    void writtenDescriptorGivesItsName() {
        TestAgent agent;
        const QString name = QStringLiteral("Gestionnaire de th\u00e8mes \u00e9l\u00e9gants");
        QVERIFY(agent.writeDescriptor(QStringLiteral("SDClientTask.9.xml"), name));
        QString error;
        QCOMPARE(test::descriptorAnswer(agent.paths().descriptor(QStringLiteral("SDClientTask.9.xml")), error)
                     .value_or(QString()),
                 name);
    }

    void missingDescriptor() {
        TestAgent agent;
        QString error;
        QCOMPARE(
            test::descriptorAnswer(agent.paths().descriptor(QStringLiteral("SDClientTask.1.xml")), error),
            std::optional<QString>(QStringLiteral("Unknow;P")));
        QCOMPARE(test::descriptorAnswer(agent.paths().descriptor(QStringLiteral("Database@Error")), error),
                 std::optional<QString>(QStringLiteral("Can't find SQLite Database")));
        // A folder under the name is no descriptor either.
        QVERIFY(agent.writeFile(agent.paths().descriptor(QStringLiteral("dir/f")), "x"));
        QCOMPARE(test::descriptorAnswer(agent.paths().descriptor(QStringLiteral("dir")), error),
                 std::optional<QString>(QStringLiteral("Unknow;P")));
    }
};

QTEST_GUILESS_MAIN(TestPackageDescriptor)
#include "tst_packagedescriptor.moc"
