// Today's part of an invoker log, read whole and followed.
#include "FuzzInput.h"
#include "agent/InvokerLog.h"
#include "agent/InvokerLogFollower.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content = fuzzBytes(data, size);
    static QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/SDInvoker.log");
    {
        QFile file(path);
        FUZZ_REQUIRE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                     file.write(content) == content.size());
    }
    const QDate date(2026, 12, 7);
    const QString key = corvane::invokerDateKey(date);
    QStringList lines;
    QString error;
    FUZZ_REQUIRE(corvane::readInvokerLog(path, date, lines, error) == corvane::AgentFileStatus::Read);
    // LF, CR LF and a lone CR each end a line.
    FUZZ_REQUIRE(lines.size() <= content.count('\n') + content.count('\r') + 1);
    if (!lines.isEmpty())
        FUZZ_REQUIRE(lines.first().contains(key));
    // A follower with room for every line shows what the whole read keeps.
    corvane::InvokerLogFollower follower(int(lines.size()) + 2);
    const corvane::InvokerLogUpdate update = follower.update(path, date);
    FUZZ_REQUIRE(update.kind == corvane::InvokerLogUpdate::Kind::Replaced && update.lines.toList() == lines);
    return 0;
}
