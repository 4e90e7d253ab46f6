// Today's part of an invoker log, read whole and followed: at once, and in two ticks, the log cut at a point
// the input chooses (the second tick cuts the added lines in one go once the day's part has begun).
#include "FuzzInput.h"
#include "TricklingDevice.h"
#include "agent/InvokerLog.h"
#include "agent/InvokerLogFollower.h"
#include "base/TextLines.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content = fuzzBytes(data, size);
    static QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/SDInvoker.log");
    const auto write = [&](QByteArrayView bytes, QIODevice::OpenMode mode) {
        QFile file(path);
        FUZZ_REQUIRE(file.open(QIODevice::WriteOnly | mode) &&
                     file.write(bytes.data(), bytes.size()) == bytes.size());
    };
    write(content, QIODevice::Truncate);
    const QDate date(2026, 12, 7);
    const QString key = corvane::invokerDateKey(date);
    QStringList lines;
    QString error;
    FUZZ_REQUIRE(corvane::readInvokerLog(path, date, lines, error) == corvane::AgentFileStatus::Read);
    // LF, CR LF and a lone CR each end a line.
    FUZZ_REQUIRE(lines.size() <= content.count('\n') + content.count('\r') + 1);
    if (!lines.isEmpty())
        FUZZ_REQUIRE(lines.first().contains(key));
    // The day's first line is found by searching the chunks, wherever they are cut: the same lines as
    // reading every line and asking each.
    {
        QByteArray bytes = content;
        QBuffer whole(&bytes);
        FUZZ_REQUIRE(whole.open(QIODevice::ReadOnly));
        QList<qint64> steps;
        for (qsizetype i = 0; i < std::min<qsizetype>(content.size(), 4); ++i)
            steps.append(uchar(content.at(i)) % 13 + 1);
        corvane::test::TricklingDevice trickling(content, steps);
        FUZZ_REQUIRE(trickling.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        const corvane::TextFinder finder(key.toLatin1());
        QList<QByteArray> everyLine, searched;
        const auto collectInto = [&](QList<QByteArray>& into) {
            return [&](QByteArrayView line, bool) {
                if (!into.isEmpty() || finder.isIn(line))
                    into.append(line.toByteArray());
            };
        };
        FUZZ_REQUIRE(corvane::readLinesFrom(whole, 0, collectInto(everyLine)) ==
                     corvane::readLinesFrom(trickling, 0, collectInto(searched), &finder));
        FUZZ_REQUIRE(everyLine == searched && everyLine.size() == lines.size());
    }
    // A follower with room for every line shows what the whole read keeps.
    corvane::InvokerLogFollower follower(int(lines.size()) + 2);
    const corvane::InvokerLogUpdate update = follower.update(path, date);
    FUZZ_REQUIRE(update.kind == corvane::InvokerLogUpdate::Kind::Replaced && update.lines.toList() == lines);

    const qsizetype cut = content.isEmpty() ? 0 : qsizetype(uchar(content.front())) * content.size() / 256;
    write(QByteArrayView(content).first(cut), QIODevice::Truncate);
    corvane::InvokerLogFollower ticks(int(lines.size()) + 2);
    corvane::InvokerLogFollower smallBox(3); // the second tick keeps its last lines only
    QStringList shown = ticks.update(path, date).lines.toList();
    smallBox.update(path, date);
    write(QByteArrayView(content).sliced(cut), QIODevice::Append);
    const corvane::InvokerLogUpdate next = ticks.update(path, date);
    const corvane::InvokerLogUpdate last = smallBox.update(path, date);
    FUZZ_REQUIRE(last.partLines == lines.size() && last.lines.size() <= 3 &&
                 last.lines.toList() == lines.mid(lines.size() - last.lines.size()));
    if (next.kind == corvane::InvokerLogUpdate::Kind::Replaced)
        shown.clear();
    if (next.dropLastShown)
        shown.removeLast();
    shown += next.lines.toList();
    FUZZ_REQUIRE(shown == lines);
    return 0;
}
