// One pass over a synchroniser log; the input's first line stands for the marker.
#include "FuzzInput.h"
#include "SyncLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzzBytes(data, size);
    const qsizetype split = input.indexOf('\n');
    const QString marker = QString::fromLatin1(split < 0 ? input : input.left(split));
    const QByteArray log = split < 0 ? QByteArray() : input.mid(split + 1);

    const corvane::SyncPass pass = corvane::readSyncPass(log, marker);
    FUZZ_REQUIRE(pass.policyCount >= 0 && pass.xmlCount >= 0);
    FUZZ_REQUIRE(pass.shownLines.size() <= log.count('\n') + 1);
    for (const QString& line : pass.shownLines)
        FUZZ_REQUIRE(line != marker && line.contains(QLatin1Char(':')));
    const QString last = corvane::syncMarkerLine(log);
    FUZZ_REQUIRE(last == pass.lastStamped.value_or(QString()));
    (void)corvane::syncEnded(last, marker);
    return 0;
}
