// Agent time (seconds since 1970) to "dd/mm/yy hh:nn".
#include "FuzzInput.h"
#include "agent/AgentTime.h"

#include <QDate>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QString> text = corvane::agentTimeText(QString::fromUtf8(fuzzBytes(data, size)));
    FUZZ_REQUIRE(corvane::agentTimeTextOfAscii(fuzzBytes(data, size)) == text); // the same from bytes
    if (text) {
        FUZZ_REQUIRE(text->size() == 14 && text->at(2) == QLatin1Char('/') &&
                     text->at(11) == QLatin1Char(':'));
        // The date is the calendar's own for that day.
        const qint64 seconds = QString::fromUtf8(fuzzBytes(data, size)).trimmed().toLongLong();
        const qint64 day = seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0);
        const QDate date = QDate(1970, 1, 1).addDays(day);
        FUZZ_REQUIRE(text->left(8) == date.toString(QStringLiteral("dd/MM/yy")));
    }
    return 0;
}
