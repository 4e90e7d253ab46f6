// A record's field encoding: any texts, ';' and the escape character included, come back whole from a joined
// record, and two different texts are never stored alike (an action must not name another operation).
#include "FuzzInput.h"
#include "agent/TaskRecord.h"

#include <QString>
#include <QStringList>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes as UTF-16 code units, so that ';' and the escape character are easy to reach; a NUL unit
    // separates the fields.
    const QByteArray bytes = fuzzBytes(data, size);
    const QString text(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    const QStringList texts = text.split(QChar(0));

    QStringList stored;
    for (const QString& field : texts) {
        const QString escaped = TaskRecord::escaped(field);
        FUZZ_REQUIRE(!escaped.contains(QLatin1Char(';')));
        FUZZ_REQUIRE(TaskRecord::unescaped(escaped) == field);
        stored << escaped;
    }
    const QString record = stored.join(QLatin1Char(';'));
    const QStringList fields = TaskRecord::split(record);
    FUZZ_REQUIRE(fields.size() == texts.size());
    for (int i = 0; i < texts.size(); ++i)
        FUZZ_REQUIRE(TaskRecord::field(fields, i) == texts.at(i));
    FUZZ_REQUIRE(TaskRecord::firstField(record) == texts.first());
    if (texts.size() >= 2 && texts.at(0) != texts.at(1))
        FUZZ_REQUIRE(stored.at(0) != stored.at(1));
    return 0;
}
