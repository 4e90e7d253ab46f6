// Following a synchroniser log: the input's first line is the log before the run, the rest is what the
// run appends, in two writes with a pass after each. The follower must count exactly the appended lines.
#include "FuzzInput.h"
#include "base/TextLines.h"
#include "sync/SyncLog.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzzBytes(data, size);
    const qsizetype split = input.indexOf('\n');
    const QByteArray before = split < 0 ? input : input.left(split + 1);
    const QByteArray run = split < 0 ? QByteArray() : input.mid(split + 1);

    static QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/policy.sync.log");
    auto write = [&](const QByteArray& bytes, QIODevice::OpenMode mode) {
        QFile file(path);
        FUZZ_REQUIRE(file.open(QIODevice::WriteOnly | mode) && file.write(bytes) == bytes.size());
    };
    write(before, QIODevice::Truncate);
    corvane::SyncLogFollower follower(path);
    write(run.left(run.size() / 2), QIODevice::Append);
    (void)follower.pass();
    write(run.mid(run.size() / 2), QIODevice::Append);
    const corvane::SyncPass pass = follower.pass(true);

    corvane::SyncTally expected;
    QBuffer runBuffer;
    runBuffer.setData(run);
    runBuffer.open(QIODevice::ReadOnly);
    corvane::readLinesFrom(runBuffer, 0, [&](QByteArrayView line, bool) {
        if (corvane::SyncTally::isStamped(line))
            expected.add(QString::fromLatin1(line));
    });
    FUZZ_REQUIRE(pass.tally.policyCount == expected.policyCount && pass.tally.xmlCount == expected.xmlCount);
    FUZZ_REQUIRE(pass.tally.lastStamped == expected.lastStamped);
    FUZZ_REQUIRE(!pass.unfinishedLine);
    for (qsizetype i = 0; i < pass.lines.size(); ++i)
        FUZZ_REQUIRE(pass.lines.at(i).contains(QLatin1Char(':')));
    (void)corvane::syncEnded(pass.tally);
    return 0;
}
