// The scheduled-task file merged into a table that the database loader filled.
#include "FuzzInput.h"
#include "agent/ScheduledTasks.h"
#include "agent/TaskTable.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray document = fuzzBytes(data, size);
    QBuffer buffer(&document);
    buffer.open(QIODevice::ReadOnly);
    corvane::TaskTable table;
    table.add(QStringLiteral("A1"), QStringLiteral("SDClientTask.A1.xml;2;Yes:Policy;Now;n/a;n/a"));
    table.add(QStringLiteral("1"), QStringLiteral("Database@Error;2;;;;"));
    const QStringList keysBefore = table.keys();
    const QStringList itemsBefore = table.items();
    QString error;
    const bool merged = corvane::mergeScheduledTasks(table, buffer, error);
    if (!merged) // a broken document merges nothing
        FUZZ_REQUIRE(table.keys() == keysBefore && table.items() == itemsBefore);
    FUZZ_REQUIRE(table.keys().mid(0, 2) == keysBefore); // entries keep their places

    // A document in the plain form is read without the XML reader: the same tasks, the same outcome.
    corvane::TaskTable byXmlReader;
    byXmlReader.add(keysBefore.at(0), itemsBefore.at(0));
    byXmlReader.add(keysBefore.at(1), itemsBefore.at(1));
    buffer.close();
    buffer.open(QIODevice::ReadOnly);
    QString xmlError;
    FUZZ_REQUIRE(corvane::mergeScheduledTasks(byXmlReader, buffer, xmlError,
                                              corvane::ScheduledTasksReading::XmlReader) == merged);
    FUZZ_REQUIRE(xmlError == error && byXmlReader.keys() == table.keys() &&
                 byXmlReader.items() == table.items());
    return 0;
}
