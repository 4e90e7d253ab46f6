// Today's part of an invoker log.
#include "FuzzInput.h"
#include "agent/InvokerLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content = fuzzBytes(data, size);
    const QString key = QStringLiteral("07 Dec 2026");
    const QStringList lines = corvane::linesFromDateKey(content, key);
    // LF, CR LF and a lone CR each end a line.
    FUZZ_REQUIRE(lines.size() <= content.count('\n') + content.count('\r') + 1);
    if (!lines.isEmpty())
        FUZZ_REQUIRE(lines.first().contains(key));
    corvane::InvokerLogPart part;
    part.lines = lines;
    FUZZ_REQUIRE(part.shownText().count(QStringLiteral("\r\n")) >= lines.size());
    return 0;
}
