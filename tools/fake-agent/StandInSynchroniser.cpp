#include "AgentTree.h"

#include "agent/InvokerLog.h"
#include "base/SqliteConnection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace corvane::fake {

QByteArray stampedLine(const QDateTime& at, const QString& text) {
    static const char* const kDays[] = {"", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    return QStringLiteral("%1, %2 %3 %4\r\n")
        .arg(QLatin1String(kDays[at.date().dayOfWeek()]), invokerDateKey(at.date()),
             at.time().toString(QStringLiteral("HH:mm:ss")), text)
        .toLatin1();
}

namespace {

// The next free operation number of the simulated core server, above the demo's own.
int nextOperationNumber(const AgentPaths& paths) {
    SqliteConnection db(paths.database());
    QList<QStringList> rows;
    QString error;
    db.run(
        QStringLiteral("SELECT COUNT(*) FROM ClientOperations WHERE filename LIKE 'SDClientTask.CORE01_14%'"),
        rows, error);
    return 1401 + (rows.isEmpty() ? 0 : rows.first().value(0).toInt());
}

// Appends stamped lines of about 100 bytes at `floodBytesPerSecond`, in batches every 50 ms, for
// `floodSeconds`: a synchroniser with a great deal to say.
bool flood(const QString& log, const SyncOptions& options) {
    QFile file(log);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    QElapsedTimer clock;
    clock.start();
    qint64 written = 0;
    int number = 0;
    while (clock.elapsed() < qint64(options.floodSeconds) * 1000) {
        const qint64 due = clock.elapsed() * options.floodBytesPerSecond / 1000;
        QByteArray batch;
        while (written + batch.size() < due)
            batch +=
                stampedLine(QDateTime::currentDateTime(),
                            QStringLiteral("policy.sync: Checking the policy file SDClientTask.CORE01_%1.xml")
                                .arg(++number, 7, 10, QLatin1Char('0')));
        if (file.write(batch) != batch.size() || !file.flush())
            return false;
        written += batch.size();
        QThread::msleep(50);
    }
    return true;
}

// How this process was asked to show its window: "show=N" with N the STARTUPINFO show state Windows gave it
// (7: minimised without taking the focus), or "show=default" where no state was given or elsewhere.
bool recordStartup(const QString& path) {
    QByteArray text = "show=default\n";
#ifdef Q_OS_WIN
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW)
        text = "show=" + QByteArray::number(startup.wShowWindow) + '\n';
#endif
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Empties the log. Under Wine the truncation now and then fails while a reader has the log open (seen in
// about one run of ten, under load; the cause is not established): a real synchroniser would try again.
bool emptyLog(AgentTree& tree, const QString& log) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (tree.writeFile(log, QByteArray()))
            return true;
        QThread::msleep(50);
    }
    return false;
}

} // namespace

bool runStandInSynchroniser(const QString& root, const SyncOptions& options, QString& error) {
    if (!options.recordStartup.isEmpty() && !recordStartup(options.recordStartup)) {
        error = QStringLiteral("cannot write ") + options.recordStartup;
        return false;
    }
    if (options.failAtOnce) {
        error = QStringLiteral("cannot reach the core server");
        return false;
    }
    AgentTree tree(root);
    const QString log = tree.paths().syncLog();
    if (options.freshLog && !emptyLog(tree, log)) {
        error = tree.error();
        return false;
    }
    auto write = [&](const QByteArray& line) {
        QThread::msleep(ulong(options.delayMs));
        if (options.chatter) {
            // What a synchroniser run from a console prints; none of it may reach Corvane's own output.
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fflush(stdout);
            std::fputs("policy.sync: wrote a line\n", stderr);
            std::fflush(stderr);
        }
        if (!tree.appendFile(log, line))
            error = tree.error();
        return error.isEmpty();
    };
    auto stamped = [&](const QString& text) {
        return write(stampedLine(QDateTime::currentDateTime(), text));
    };

    const int number = nextOperationNumber(tree.paths());
    const QString newFile = QStringLiteral("SDClientTask.CORE01_%1.xml").arg(number);
    bool ok =
        stamped(QStringLiteral("policy.sync: Starting policy synchronisation with CORE01")) &&
        write("---------------------------------------------\r\n") &&
        stamped(QStringLiteral("policy.sync: Download information for %1").arg(newFile)) &&
        stamped(QStringLiteral("policy.sync: The remote operation file %1 was downloaded").arg(newFile));
    if (!ok)
        return false;
    if (options.wipeLog == QLatin1String("empty")    ? !emptyLog(tree, log)
        : options.wipeLog == QLatin1String("delete") ? (QFile::exists(log) && !QFile::remove(log))
                                                     : false) {
        error = QStringLiteral("cannot wipe its log");
        return false;
    }
    if (!tree.writeDescriptor(newFile, QStringLiteral("Deployment Package %1").arg(number)) ||
        !tree.addOperation({newFile, QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("1")})) {
        error = tree.error();
        return false;
    }
    ok = stamped(QStringLiteral("policy.sync: Download information for SDClientTask.CORE01_1202.xml")) &&
         stamped(QStringLiteral(
             "policy.sync: SDClientTask.CORE01_1202.xml is up to date, nothing was downloaded")) &&
         write("   2 policies checked\r\n");
    if (!ok)
        return false;
    if (options.floodBytesPerSecond > 0 && !flood(log, options)) {
        error = QStringLiteral("cannot write ") + log;
        return false;
    }
    if (!options.neverStop && !stamped(QStringLiteral("policy.sync: Policy synchronisation finished [STOP]")))
        return false;
    QThread::msleep(ulong(options.holdMs));
    return true;
}

} // namespace corvane::fake
