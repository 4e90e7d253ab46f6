// Agent time (seconds since 1970) to "dd/mm/yy hh:nn".
#include "FuzzInput.h"
#include "agent/AgentTime.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QString> text = corvane::agentTimeText(QString::fromUtf8(fuzzBytes(data, size)));
    if (text)
        FUZZ_REQUIRE(text->size() == 14 && text->at(2) == QLatin1Char('/') &&
                     text->at(11) == QLatin1Char(':'));
    return 0;
}
