// corvane-bench: the cost of Corvane's refreshes and log reads, each beside the raw I/O of the same files,
// measured in one run and printed as one Markdown table.
#include "AgentTree.h"
#include "actions/TaskActions.h"
#include "agent/ClientDatabase.h"
#include "agent/InvokerLog.h"
#include "agent/InvokerLogFollower.h"
#include "base/SqliteConnection.h"
#include "session/AgentSession.h"
#include "session/MessagePresenter.h"
#include "sync/PolicySyncRun.h"
#include "sync/SyncLog.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskListLoader.h"
#include "ui/Form1.h"
#include "ui/LogBox.h"
#include "ui/TaskListModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace corvane;

namespace {

QTextStream out(stdout);
constexpr int kBoxLines = kLogBoxLines;

class NoFeedback : public Feedback {
public:
    void setStatus(const QString&) override {}
};

class SilentMessages : public MessagePresenter {
public:
    void show(const QString&, const QString&, Icon) override {}
};

// Processor time of this process, and of its children that have ended, in milliseconds.
double processorMs() {
    timespec self{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &self);
    double ms = self.tv_sec * 1e3 + self.tv_nsec / 1e6;
#ifndef _WIN32
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    ms += (children.ru_utime.tv_sec + children.ru_stime.tv_sec) * 1e3 +
          (children.ru_utime.tv_usec + children.ru_stime.tv_usec) / 1e3;
#endif
    return ms;
}

// Median wall time of `runs` calls, in milliseconds; with BENCH_CPU_TIME set, the median processor time
// (the processes a call runs and waits for included).
double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    static const bool cpu = qEnvironmentVariableIsSet("BENCH_CPU_TIME");
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        const double cpu0 = processorMs();
        timer.start();
        work();
        times.push_back(cpu ? processorMs() - cpu0 : double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void row(const QString& what, double value, double baseline, const QString& unit = QStringLiteral("ms")) {
    out << "| " << what << " | " << QString::number(value, 'f', value < 10 ? 3 : 1) << ' ' << unit << " | "
        << QString::number(baseline, 'f', baseline < 10 ? 3 : 1) << ' ' << unit << " | "
        << (baseline > 0 ? QString::number(value / baseline, 'f', 2) : QStringLiteral("-")) << " |"
        << Qt::endl;
}

QByteArray readPlain(const QString& path, qint64 from = 0) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    file.seek(from);
    return file.readAll();
}

// An agent with `count` package tasks, each with its descriptor and a scheduled-task entry.
void writeAgent(fake::AgentTree& tree, int count) {
    tree.createDatabase();
    QString sql = QStringLiteral("BEGIN;");
    QList<fake::ScheduledTask> scheduled;
    for (int i = 0; i < count; ++i) {
        const QString file = QStringLiteral("SDClientTask.CORE01_%1.xml").arg(i);
        sql +=
            QStringLiteral("INSERT INTO ClientOperations (filename) VALUES ('%1');"
                           "INSERT INTO InvokerState (ClientOperations_IDN, state) VALUES (%2, %3);"
                           "INSERT INTO ReschedulePolicy (operationId, periodicReschedule, rescheduleTimeT) "
                           "VALUES ('%1', 1, 1700000000);")
                .arg(file)
                .arg(i + 1)
                .arg(i % 8);
        tree.writeDescriptor(file, QStringLiteral("Package %1").arg(i));
        scheduled.append(
            {QStringLiteral("CORE01_%1").arg(i), QStringLiteral("pending"), QStringLiteral("1700000000")});
    }
    tree.execute(sql + QStringLiteral("COMMIT;"));
    tree.writeScheduledTasks(scheduled);
}

void rawAgentIo(const AgentPaths& paths) {
    SqliteConnection db(paths.database());
    QList<QStringList> rows;
    QString error;
    db.run(kLoadOperationsQuery, rows, error);
    readPlain(paths.scheduledTasks());
    for (const QStringList& r : rows)
        readPlain(paths.descriptor(r.value(0)));
}

// The medians of `runs` rounds of `works`, each round running every work once in turn, so that a machine
// busier in one part of the run weighs on every figure alike.
std::vector<double> interleavedMediansMs(int runs, const std::vector<std::function<void()>>& works) {
    std::vector<std::vector<double>> times(works.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t w = 0; w < works.size(); ++w)
            times[w].push_back(medianMs(1, works[w]));
    }
    std::vector<double> medians;
    for (std::vector<double>& each : times) {
        std::sort(each.begin(), each.end());
        medians.push_back(each[each.size() / 2]);
    }
    return medians;
}

void benchRefresh(const QString& base) {
    for (int count : {100, 1000, 10000}) {
        fake::AgentTree tree(base + QStringLiteral("/refresh%1").arg(count));
        writeAgent(tree, count);
        NoFeedback feedback;
        TaskListModel model;
        const std::vector<double> medians = interleavedMediansMs(
            9, {[&] { rawAgentIo(tree.paths()); }, [&] { loadTaskList(tree.paths(), feedback); },
                [&] {
                    model.setRows(loadTaskList(tree.paths(), feedback).rows);
                }});
        const double raw = medians[0];
        const double data = medians[1];
        const double withModel = medians[2];
        row(QStringLiteral("refresh, %1 tasks: data layer and rows").arg(count), data, raw);
        row(QStringLiteral("refresh, %1 tasks: with the list model").arg(count), withModel, raw);
    }
}

// A log of `megabytes` whose last tenth is today's.
void writeInvokerLog(const QString& path, int megabytes, const QDate& today) {
    QFile file(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const qint64 total = qint64(megabytes) * 1000 * 1000;
    const QByteArray old =
        fake::stampedLine(QDateTime(today.addDays(-1), QTime(9, 0)),
                          QStringLiteral("policy.client.invoker: an earlier day's line of work"));
    const QByteArray now =
        fake::stampedLine(QDateTime(today, QTime(9, 0)),
                          QStringLiteral("policy.client.invoker: today's line of work, task 1234"));
    QByteArray block;
    while (block.size() < 1000 * 1000)
        block += old;
    qint64 written = 0;
    while (written < total * 9 / 10)
        written += file.write(block);
    block.clear();
    while (block.size() < 1000 * 1000)
        block += now;
    while (written < total)
        written += file.write(block);
}

void appendMegabyte(const QString& path, const QDate& today) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Append);
    const QByteArray line =
        fake::stampedLine(QDateTime(today, QTime(10, 0)), QStringLiteral("policy.client.invoker: appended"));
    QByteArray block;
    while (block.size() < 1000 * 1000)
        block += line;
    file.write(block);
}

// The window follows the invoker log with a follower; a full read of the file is the baseline.
void benchInvokerLog(const QString& base) {
    const QDate today = QDate::currentDate();
    for (int megabytes : {10, 100, 500}) {
        const QString path = base + QStringLiteral("/invoker%1.log").arg(megabytes);
        writeInvokerLog(path, megabytes, today);
        const double plain = medianMs(3, [&] { readPlain(path); });
        const double first = medianMs(3, [&] {
            InvokerLogFollower follower(kBoxLines);
            follower.update(path, today);
        });
        row(QStringLiteral("invoker log %1 MB: first read").arg(megabytes), first, plain);
        InvokerLogFollower follower(kBoxLines);
        follower.update(path, today);
        const double idle = medianMs(101, [&] { follower.update(path, today); });
        row(QStringLiteral("invoker log %1 MB: tick, nothing new").arg(megabytes), idle, plain);
        // Each a median of several appends: one tick is too short to time once on a busy machine.
        std::vector<double> plains, ticks;
        for (int i = 0; i < 9; ++i) {
            const qint64 before = QFileInfo(path).size();
            appendMegabyte(path, today);
            plains.push_back(medianMs(1, [&] { readPlain(path, before); }));
            ticks.push_back(medianMs(1, [&] { follower.update(path, today); }));
        }
        std::sort(plains.begin(), plains.end());
        std::sort(ticks.begin(), ticks.end());
        const double onePlain = plains[plains.size() / 2];
        const double afterAppend = ticks[ticks.size() / 2];
        row(QStringLiteral("invoker log %1 MB: tick after 1 MB appended").arg(megabytes), afterAppend,
            onePlain);
        QFile::remove(path);
    }
}

void benchSyncLog(const QString& base) {
    const QString path = base + QStringLiteral("/sync.log");
    const QDate today = QDate::currentDate();
    writeInvokerLog(path, 100, today);
    const double plain = medianMs(3, [&] { readPlain(path); });
    // A first pass that reads the whole log: one that was replaced since the run began.
    const double first = medianMs(3, [&] {
        SyncLogFollower follower(base + QStringLiteral("/no-log-yet"));
        QFile::rename(path, base + QStringLiteral("/no-log-yet"));
        follower.pass();
        QFile::rename(base + QStringLiteral("/no-log-yet"), path);
    });
    row(QStringLiteral("sync pass, 100 MB log: first"), first, plain);
    SyncLogFollower follower(path);
    follower.pass();
    const qint64 before = QFileInfo(path).size();
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Append);
        for (int i = 0; i < 100; ++i)
            file.write(fake::stampedLine(QDateTime::currentDateTime(),
                                         QStringLiteral("policy.sync: Download information for x")));
    }
    const double newPlain = medianMs(1, [&] { readPlain(path, before); });
    const double next = medianMs(1, [&] { follower.pass(); });
    row(QStringLiteral("sync pass, 100 MB log: after 100 new lines"), next, newPlain);
}

// A 64 MB synchroniser log whose tail holds no stamped line (no ':'): where a run starts must be found
// without reading it all.
QString writeUnstampedLog(const QString& path) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const QByteArray line = QByteArray(99, 'x') + '\n';
    QByteArray block;
    for (int i = 0; i < 10000; ++i)
        block += line;
    for (qint64 written = 0; written < 64LL * 1024 * 1024; written += block.size())
        file.write(block);
    return path;
}

void benchSyncStart(const QString& base) {
    const QString path = writeUnstampedLog(base + QStringLiteral("/unstamped.log"));
    const qint64 size = QFileInfo(path).size();
    const double plain = medianMs(5, [&] { readPlain(path, size - 64 * 1024); });
    const double start = medianMs(3, [&] { SyncLogFollower{path}; });
    row(QStringLiteral("sync start, 64 MB tail without stamped lines"), start, plain);
    QFile::remove(path);
}

QString fakeAgentProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/fake-agent/corvane-fake-agent");
}

// A memory figure of process `pid` in kB from its status file ("VmRSS", "VmHWM"); 0 when unknown.
qint64 memoryKb(qint64 pid, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

qint64 peakMemoryKb(qint64 pid) {
    return memoryKb(pid, "VmHWM");
}

qint64 residentKb() {
    return memoryKb(QCoreApplication::applicationPid(), "VmRSS");
}

// The longest delay of a 5 ms timer while `start` runs in the event loop for `ms`, or until `stopWhen`
// says so (it is asked at every tick).
double longestBlockMs(const std::function<void()>& start, int ms,
                      const std::function<bool()>& stopWhen = {}) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    qint64 worst = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;
    QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 5);
        last = now;
        if (stopWhen && stopWhen())
            loop.quit();
    });
    probe.start(5);
    QTimer::singleShot(20, &probe, start);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return double(std::max<qint64>(worst, 0));
}

// A refresh while another process holds the database locked (the read waits out the busy timeout).
void benchLockedRefresh(const QString& base) {
    SilentMessages messages;
    QString error;
    fake::AgentTree lockTree(base + QStringLiteral("/locked"));
    fake::writeDemoAgent(lockTree.root(), QDateTime::currentDateTime(), error);
    Form1 lockForm(lockTree.paths(), messages);
    longestBlockMs([&] { lockForm.Form_Load(); }, 1000);
    QProcess lock;
    lock.start(fakeAgentProgram(),
               {QStringLiteral("hold-lock"), QStringLiteral("--agent-root"), lockTree.root()});
    if (lock.waitForReadyRead(10000) && lock.readLine().startsWith("locked")) {
        const double locked = longestBlockMs([&] { lockForm.BtnRefresh_Click(); }, 3500);
        row(QStringLiteral("event loop blocked, refresh while the database is locked"), locked, 0);

        // Stop Install on a checked package row: its transaction waits out the lock, then reports.
        lockForm.session()->setAskBeforeChanging(false);
        TaskListModel& model = *lockForm.taskListModel();
        for (int r = 0; r < model.rowCount(); ++r) {
            if (model.taskRow(r).tag == TaskRow::Tag::Policy) {
                model.setData(model.index(r, 0), Qt::Checked, Qt::CheckStateRole);
                break;
            }
        }
        auto* status = lockForm.findChild<QLabel*>(QStringLiteral("StatusPanel2"));
        QElapsedTimer clicked;
        double reportedMs = 0;
        const double action = longestBlockMs(
            [&] {
                clicked.start();
                lockForm.findChild<QPushButton*>(QStringLiteral("BtnStop"))->click();
            },
            10000,
            [&] {
                if (!status->text().startsWith(QLatin1String("Stop Install:")))
                    return false;
                reportedMs = double(clicked.elapsed());
                return true;
            });
        row(QStringLiteral("event loop blocked, Stop Install while the database is locked"), action, 0);
        row(QStringLiteral("Stop Install while the database is locked, click to its report (\"%1\")")
                .arg(status->text()),
            reportedMs, 0);
    }
    lock.closeWriteChannel();
    lock.waitForFinished(10000);
}

void benchEventLoop(const QString& base) {
    SilentMessages messages;
    {
        fake::AgentTree tree(base + QStringLiteral("/refresh10000"));
        Form1 form(tree.paths(), messages);
        form.Form_Load();
        const double refresh = longestBlockMs([&] { form.BtnRefresh_Click(); }, 3000);
        row(QStringLiteral("event loop blocked, refresh of 10,000 tasks"), refresh, 0);
    }
    {
        // 50,000 tasks the scheduled-task file alone knows (no descriptors): the read is short, and the
        // longest stall is handing the rows to the list, its sort and its filter.
        fake::AgentTree tree(base + QStringLiteral("/handover"));
        QString error;
        fake::writeDemoAgent(tree.root(), QDateTime::currentDateTime(), error);
        QFile file(tree.paths().scheduledTasks());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("<tasks>\n");
        for (int i = 0; i < kMaxListedTasks; ++i)
            file.write("<task taskid=\"N" + QByteArray::number(i) +
                       "\" state=\"pending\" time=\"1700000000\"/>\n");
        file.write("</tasks>\n");
        file.close();
        Form1 form(tree.paths(), messages);
        form.show();
        bool read = false;
        QObject::connect(&form, &Form1::taskListRead, &form, [&] { read = true; });
        const double handOver = longestBlockMs([&] { form.Form_Load(); }, 30000, [&] { return read; });
        row(QStringLiteral("event loop blocked, hand-over of %1 rows to the list (%2 shown)")
                .arg(kMaxListedTasks)
                .arg(form.taskListModel()->rowCount()),
            handOver, 0);
    }

    // A sync over a 100 MB synchroniser log, with the stand-in writing its lines.
    fake::AgentTree syncTree(base + QStringLiteral("/sync"));
    QString error;
    fake::writeDemoAgent(syncTree.root(), QDateTime::currentDateTime(), error, fakeAgentProgram());
    writeInvokerLog(syncTree.paths().syncLog(), 100, QDate::currentDate());
    Form1 syncForm(syncTree.paths(), messages);
    syncForm.Form_Load();
    const double sync = longestBlockMs([&] { syncForm.BtnPortal_Click(); }, 6000);
    row(QStringLiteral("event loop blocked, during a sync (100 MB log)"), sync, 0);

    // The start of a sync over a 64 MB log without a stamped line in its tail.
    fake::AgentTree startTree(base + QStringLiteral("/syncstart"));
    fake::writeDemoAgent(startTree.root(), QDateTime::currentDateTime(), error, fakeAgentProgram());
    writeUnstampedLog(startTree.paths().syncLog());
    Form1 startForm(startTree.paths(), messages);
    startForm.Form_Load();
    const double start = longestBlockMs([&] { startForm.BtnPortal_Click(); }, 3000);
    row(QStringLiteral("event loop blocked, sync start on a 64 MB tail without stamped lines"), start, 0);

    benchLockedRefresh(base);
}

// Runs in a process of its own (so that its peak memory is the window's): the window reading a 200 MB
// scheduled-task file, either of 3 million tasks the database does not know or naming the demo's tasks over
// and over. Prints the longest delay of the event loop during the read and during a click on a row's check
// box, the read's duration in seconds, the peak memory in MB and the rows shown.
int scheduleChild(const QString& base, bool knownTasks) {
    SilentMessages messages;
    fake::AgentTree tree(base + (knownTasks ? QStringLiteral("/known") : QStringLiteral("/unknown")));
    QString error;
    fake::writeDemoAgent(tree.root(), QDateTime::currentDateTime(), error);
    {
        QFile file(tree.paths().scheduledTasks());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("<tasks>\n");
        QByteArray block;
        qint64 written = 0;
        for (int i = 0; written < 200'000'000; ++i) {
            block += knownTasks ? QByteArray("<task taskid=\"CORE01_12") +
                                      QByteArray::number(1 + i % 10).rightJustified(2, '0') +
                                      "\" state=\"active\" time=\"1700000000\"/>\n"
                                : "<task taskid=\"N" + QByteArray::number(i) +
                                      "\" state=\"pending\" time=\"1700000000\"/>\n";
            if (block.size() > 1'000'000) {
                written += file.write(block);
                block.clear();
            }
        }
        file.write(block + "</tasks>\n");
    }
    Form1 form(tree.paths(), messages);
    form.show();
    QElapsedTimer read;
    read.start();
    double readSeconds = 0;
    QObject::connect(&form, &Form1::taskListRead, &form,
                     [&] { readSeconds = double(read.elapsed()) / 1000; });
    const double duringRead =
        longestBlockMs([&] { form.Form_Load(); }, 120000, [&] { return readSeconds > 0; });
    TaskListModel& model = *form.taskListModel();
    const double click =
        longestBlockMs([&] { model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole); }, 500);
    const qint64 peakKb = peakMemoryKb(QCoreApplication::applicationPid());
    out << duringRead << ' ' << click << ' ' << readSeconds << ' ' << double(peakKb) / 1024 << ' '
        << model.rowCount() << Qt::endl;
    return 0;
}

void benchHugeScheduledTaskFile(const QString& base) {
    for (bool knownTasks : {false, true}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("schedule-child"), base, knownTasks ? QStringLiteral("known") : QString()});
        child.waitForFinished(600000);
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 5)
            continue;
        const QString file =
            knownTasks ? QStringLiteral("200 MB scheduled-task file naming known tasks over and over")
                       : QStringLiteral("200 MB scheduled-task file of 3 million unknown tasks");
        row(QStringLiteral("event loop blocked, read of a ") + file, figures[0].toDouble(), 0);
        row(QStringLiteral("event loop blocked, a click on a row, after the ") + file, figures[1].toDouble(),
            0);
        row(QStringLiteral("read in the background (s, %1 rows), ").arg(QString::fromLatin1(figures[4])) +
                file,
            figures[2].toDouble(), 0, QStringLiteral("s"));
        // The target is the baseline.
        row(QStringLiteral("window peak memory, ") + file, figures[3].toDouble(), 500, QStringLiteral("MB"));
    }
}

// Runs in a process of its own (so that its peak memory is the window's): the window with the log window
// shown, during a Policy Sync whose synchroniser writes 2 MB/s for 40 s. Prints the longest delay of the
// event loop and the peak memory, each beside its value before the sync.
int floodChild(const QString& base) {
    SilentMessages messages;
    fake::AgentTree tree(base + QStringLiteral("/flood"));
    fake::SyncOptions options;
    options.delayMs = 10;
    options.floodBytesPerSecond = 2 * 1024 * 1024;
    options.floodSeconds = 40;
    QString error;
    fake::writeDemoAgent(tree.root(), QDateTime::currentDateTime(), error, fakeAgentProgram(), options);
    Form1 form(tree.paths(), messages);
    form.Form_Load();
    form.show();
    form.findChild<QCheckBox*>(QStringLiteral("CheckViewLog"))->setChecked(true);
    const double idle = longestBlockMs([] {}, 2000);
    const qint64 idleKb = peakMemoryKb(QCoreApplication::applicationPid());
    const double during = longestBlockMs([&] { form.BtnPortal_Click(); }, 45000);
    const qint64 peakKb = peakMemoryKb(QCoreApplication::applicationPid());
    out << during << ' ' << idle << ' ' << double(peakKb) / 1024 << ' ' << double(idleKb) / 1024 << Qt::endl;
    return 0;
}

void benchSyncFlood(const QString& base) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("flood-child"), base});
    child.waitForFinished(600000);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() != 4)
        return;
    row(QStringLiteral("event loop blocked, 2 MB/s synchroniser for 40 s, log window shown"),
        figures[0].toDouble(), figures[1].toDouble());
    row(QStringLiteral("window peak memory, 2 MB/s synchroniser for 40 s"), figures[2].toDouble(),
        figures[3].toDouble(), QStringLiteral("MB"));
}

// Runs in a process of its own (so that its memory is the window's): the window following an invoker log
// to which the agent adds 1 MB at a time, 100 times. Prints the median and the longest stall of the event
// loop at the tick that takes a burst, and the resident memory after 10 and after 100 bursts.
int burstChild(const QString& base) {
    SilentMessages messages;
    fake::AgentTree tree(base + QStringLiteral("/burst"));
    QString error;
    fake::writeDemoAgent(tree.root(), QDateTime::currentDateTime(), error);
    Form1 form(tree.paths(), messages);
    form.show();
    bool read = false;
    QObject::connect(&form, &Form1::taskListRead, &form, [&] { read = true; });
    longestBlockMs([&] { form.Form_Load(); }, 10000, [&] { return read; });
    QFile log(tree.paths().invokerLog());
    log.open(QIODevice::Append);
    // Lines of a busy agent, about 110 bytes each; one in fifty a failure, one in fifty a warning.
    QByteArray burst;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; burst.size() < 1000 * 1000; ++i) {
        const QString text =
            i % 50 == 0
                ? QStringLiteral("policy.client.invoker: task CORE01_%1 failed, return code 1603").arg(i)
            : i % 50 == 25 ? QStringLiteral("policy.client.invoker: warning: task CORE01_%1 retries").arg(i)
                           : QStringLiteral("policy.client.invoker: task CORE01_%1 downloading "
                                            "http://core01/packages/app%1/setup.msi, part %2")
                                 .arg(i)
                                 .arg(i % 7);
        burst += fake::stampedLine(now, text);
    }
    std::vector<double> stalls;
    double after10Mb = 0;
    for (int i = 1; i <= 100; ++i) {
        log.write(burst);
        log.flush();
        stalls.push_back(longestBlockMs([&] { form.Timer1_Timer(); }, 150));
        if (i == 10)
            after10Mb = double(residentKb()) / 1024;
    }
    const double after100Mb = double(residentKb()) / 1024;
    std::sort(stalls.begin(), stalls.end());
    out << stalls[stalls.size() / 2] << ' ' << stalls.back() << ' ' << after10Mb << ' ' << after100Mb
        << Qt::endl;
    return 0;
}

void benchLogBursts(const QString& base) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("burst-child"), base});
    child.waitForFinished(600000);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() != 4)
        return;
    row(QStringLiteral("event loop blocked, 1 MB burst to the invoker log (median of 100)"),
        figures[0].toDouble(), 0);
    row(QStringLiteral("event loop blocked, 1 MB burst to the invoker log (longest of 100)"),
        figures[1].toDouble(), 0);
    row(QStringLiteral("window memory after 100 bursts of 1 MB, beside after 10"), figures[3].toDouble(),
        figures[2].toDouble(), QStringLiteral("MB"));
}

// `corvanectl list --json` on 5,000 tasks, beside the same query by `sqlite3` and `cat` of the same files
// (the scheduled-task file and every descriptor), each a process of its own.
void benchListCommand(const QString& base) {
    fake::AgentTree tree(base + QStringLiteral("/ctl"));
    writeAgent(tree, 5000);
    QStringList files{tree.paths().scheduledTasks()};
    {
        SqliteConnection db(tree.paths().database());
        QList<QStringList> rows;
        QString error;
        db.run(kLoadOperationsQuery, rows, error);
        for (const QStringList& r : rows)
            files << tree.paths().descriptor(r.value(0));
    }
    const auto run = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, arguments);
        process.waitForFinished(-1);
    };
    const QString ctl = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/corvanectl");
    const std::vector<double> medians = interleavedMediansMs(
        9, {[&] {
                run(QStringLiteral("sqlite3"),
                    {QStringLiteral("-readonly"), tree.paths().database(), kLoadOperationsQuery});
                run(QStringLiteral("cat"), files);
            },
            [&] {
                run(ctl, {QStringLiteral("--agent-root"), tree.root(), QStringLiteral("list"),
                          QStringLiteral("--json")});
            }});
    const double baseline = medians[0];
    const double list = medians[1];
    row(QStringLiteral("corvanectl list --json, 5,000 tasks (baseline: sqlite3 and cat)"), list, baseline);
}

// Peak memory of the window's process showing a 500 MB invoker log.
void benchWindowMemory(const QString& base) {
    fake::AgentTree tree(base + QStringLiteral("/memory"));
    QString error;
    fake::writeDemoAgent(tree.root(), QDateTime::currentDateTime(), error);
    writeInvokerLog(tree.paths().invokerLog(), 500, QDate::currentDate());
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    window.setProcessEnvironment(env);
    window.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/corvane"),
                 {QStringLiteral("--agent-root"), tree.root()});
    window.waitForStarted();
    qint64 peakKb = 0;
    for (int i = 0; i < 60; ++i) { // 12 s: the first read and a couple of ticks
        QThread::msleep(200);
        QFile status(QStringLiteral("/proc/%1/status").arg(window.processId()));
        if (!status.open(QIODevice::ReadOnly))
            break;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                peakKb = std::max(peakKb, line.mid(6).trimmed().split(' ').first().toLongLong());
        }
    }
    window.kill();
    window.waitForFinished();
    // The target: twice today's part (a tenth of 500 MB) plus 50 MB.
    row(QStringLiteral("window peak memory, 500 MB invoker log"), double(peakKb) / 1024, 2 * 50 + 50,
        QStringLiteral("MB"));
}

// A working day in the window: 5,760 reads of the list (one every 5 s for 8 hours), back to back, while the
// agent adds a line to today's invoker log before each. Prints the window's resident memory after a first
// hour's worth of reads beside its value after the whole day: a leak per read shows as the difference.
void benchWorkingDay(const QString& base) {
    SilentMessages messages;
    fake::AgentTree tree(base + QStringLiteral("/day"));
    QString error;
    fake::writeDemoAgent(tree.root(), QDateTime::currentDateTime(), error);
    Form1 form(tree.paths(), messages);
    form.show();
    QFile log(tree.paths().invokerLog());
    log.open(QIODevice::Append);
    auto readOnce = [&](int i) {
        log.write(fake::stampedLine(QDateTime::currentDateTime(),
                                    QStringLiteral("policy.client.invoker: line %1 of the day").arg(i)));
        log.flush();
        QEventLoop loop;
        QObject::connect(&form, &Form1::taskListRead, &loop, &QEventLoop::quit);
        QTimer::singleShot(0, &form, [&] { form.BtnRefresh_Click(); });
        loop.exec();
    };
    constexpr int kReadsPerHour = 720;
    QElapsedTimer day;
    day.start();
    for (int i = 0; i < kReadsPerHour; ++i)
        readOnce(i);
    const double firstHourKb = double(residentKb());
    for (int i = kReadsPerHour; i < 8 * kReadsPerHour; ++i)
        readOnce(i);
    row(QStringLiteral(
            "window memory after a working day of reads (5,760, in %1 s), beside after its first hour")
            .arg(day.elapsed() / 1000),
        double(residentKb()) / 1024, firstHourKb / 1024, QStringLiteral("MB"));
}

} // namespace

// `corvanectl stop` of 3,000 tasks among `operations`: the time of the whole command, listing included, and
// of the actions alone. Each task's operation is found through an index of the database's rows, so the
// cost per task does not grow with the number of operations.
void benchManyTasks(const QString& base) {
    double command3000 = 0;
    double actions3000 = 0;
    for (int operations : {3000, 50000}) {
        fake::AgentTree tree(base + QStringLiteral("/many%1").arg(operations));
        writeAgent(tree, operations);
        tree.execute(QStringLiteral("UPDATE InvokerState SET state = 2")); // every task one to stop
        QStringList ids;
        for (int i = 0; i < operations; i += operations / 3000)
            ids << QStringLiteral("CORE01_%1").arg(i);
        const QString database = tree.paths().database();
        QFile::copy(database, database + QStringLiteral(".orig"));
        const auto restore = [&] {
            QFile::remove(database);
            QFile::copy(database + QStringLiteral(".orig"), database);
        };
        const double command = medianMs(1, [&] {
            restore();
            QProcess ctl;
            ctl.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/corvanectl"),
                      QStringList{QStringLiteral("--agent-root"), tree.root(), QStringLiteral("stop")} + ids);
            ctl.waitForFinished(-1);
        });
        NoFeedback feedback;
        const TaskTable table = loadTaskTable(tree.paths(), feedback).table;
        QList<CheckedRow> rows;
        for (const QString& id : ids)
            rows.append({QLatin1Char('k') + id, true, id});
        const QList<ActionTarget> targets = checkedTargets(rows, table);
        const double actions = medianMs(1, [&] {
            restore();
            runAction(TaskAction::StopInstall, targets, database, QString(), feedback);
        });
        if (operations == 3000) {
            command3000 = command;
            actions3000 = actions;
        }
        row(QStringLiteral("corvanectl stop, 3,000 of %1 operations").arg(operations), command, command3000);
        row(QStringLiteral("the actions alone, 3,000 of %1 operations").arg(operations), actions,
            actions3000);
    }
}

// What the journal adds to an action: Stop Install of 300 tasks in one run, without and with the journal
// written before each task's commit. Per task.
void benchJournal(const QString& base) {
    fake::AgentTree tree(base + QStringLiteral("/journal"));
    writeAgent(tree, 300);
    tree.execute(QStringLiteral("UPDATE InvokerState SET state = 2"));
    const QString database = tree.paths().database();
    QFile::copy(database, database + QStringLiteral(".orig"));
    NoFeedback feedback;
    const TaskTable table = loadTaskTable(tree.paths(), feedback).table;
    QList<CheckedRow> rows;
    for (int i = 0; i < 300; ++i)
        rows.append({QStringLiteral("kCORE01_%1").arg(i), true, QString()});
    const QList<ActionTarget> targets = checkedTargets(rows, table);
    const auto timed = [&](const QString& journal) {
        return medianMs(3,
                        [&] {
                            QFile::remove(database);
                            QFile::copy(database + QStringLiteral(".orig"), database);
                            QFile::remove(journal);
                            runAction(TaskAction::StopInstall, targets, database, journal, feedback);
                        }) /
               300;
    };
    const double without = timed(QString());
    const double with = timed(base + QStringLiteral("/journal/journal.db3"));
    row(QStringLiteral("Stop Install per task, with the journal (300 tasks)"), with, without);
}

#ifndef _WIN32
// One run of `program` with `arguments`, its output discarded: its wall time in ms and its peak resident
// memory in MB, as the kernel counted them when it ended.
std::pair<double, double> timedRun(const QString& program, const QStringList& arguments) {
    std::vector<QByteArray> args{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        args.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = ::fork();
    if (child == 0) {
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return {double(timer.nsecsElapsed()) / 1e6, double(usage.ru_maxrss) / 1024};
}

// `corvanectl list --csv` on 50 agent roots of 300 tasks at once (at most 8 read at a time), beside 50 runs
// on one root each, one after the other: the time of all, and the peak memory of the one process beside
// that of a run on one root.
void benchWorkstations(const QString& base) {
    QStringList roots;
    QStringList arguments;
    for (int i = 0; i < 50; ++i) {
        fake::AgentTree tree(base + QStringLiteral("/ws%1").arg(i));
        writeAgent(tree, 300);
        roots << tree.root();
        arguments << QStringLiteral("--agent-root") << tree.root();
    }
    arguments << QStringLiteral("list") << QStringLiteral("--csv");
    const QString ctl = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/corvanectl");
    double oneMemory = 0;
    const double oneByOne = medianMs(3, [&] {
        for (const QString& root : roots)
            oneMemory = timedRun(ctl, {QStringLiteral("--agent-root"), root, QStringLiteral("list"),
                                       QStringLiteral("--csv")})
                            .second;
    });
    double allMemory = 0;
    const double atOnce = medianMs(3, [&] { allMemory = timedRun(ctl, arguments).second; });
    row(QStringLiteral("corvanectl list --csv, 50 roots of 300 tasks (baseline: 50 runs of one root)"),
        atOnce, oneByOne);
    row(QStringLiteral("its peak memory (baseline: a run on one root)"), allMemory, oneMemory,
        QStringLiteral("MB"));
}

#else
void benchWorkstations(const QString&) {
    out << "workstations: measured on Linux only (the peak memory of a child process)\n";
}
#endif

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The window's remembered choices (the action preview turned off) stay out of a technician's own.
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane bench"));
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("flood-child"))
        return floodChild(args.value(2));
    if (args.value(1) == QLatin1String("write-agent")) { // an agent tree to measure by hand (strace, perf)
        fake::AgentTree tree(args.value(2));
        writeAgent(tree, args.value(3).toInt());
        return 0;
    }
    if (args.value(1) == QLatin1String("load-agent")) { // reads the list of a tree again and again (perf)
        NoFeedback feedback;
        const fake::AgentTree tree(args.value(2));
        for (int i = 0; i < args.value(3).toInt(); ++i)
            loadTaskList(tree.paths(), feedback);
        return 0;
    }
    if (args.value(1) ==
        QLatin1String("raw-agent")) { // the refresh's baseline on a tree, again and again (perf)
        const fake::AgentTree tree(args.value(2));
        for (int i = 0; i < args.value(3).toInt(); ++i)
            rawAgentIo(tree.paths());
        return 0;
    }
    if (args.value(1) == QLatin1String("follow-log")) { // a tick after 1 MB appended, again and again (perf)
        const QDate today = QDate::currentDate();
        const QString path = args.value(2);
        writeInvokerLog(path, 10, today);
        InvokerLogFollower follower(kBoxLines);
        follower.update(path, today);
        std::vector<double> ticks;
        for (int i = 0; i < args.value(3).toInt(); ++i) {
            appendMegabyte(path, today);
            ticks.push_back(medianMs(1, [&] { follower.update(path, today); }));
        }
        std::sort(ticks.begin(), ticks.end());
        out << "median tick " << ticks[ticks.size() / 2] << " ms, fastest " << ticks.front() << " ms"
            << Qt::endl;
        return 0;
    }
    if (args.value(1) == QLatin1String("burst-child"))
        return burstChild(args.value(2));
    if (args.value(1) == QLatin1String("schedule-child"))
        return scheduleChild(args.value(2), args.value(3) == QLatin1String("known"));
    QTemporaryDir dir;
    const QString base = dir.path();
    out << "| figure | Corvane | baseline | ratio |" << Qt::endl << "|---|---|---|---|" << Qt::endl;
    const bool all = args.size() < 2;
    if (all || args.contains(QStringLiteral("refresh")))
        benchRefresh(base);
    if (all || args.contains(QStringLiteral("invoker")))
        benchInvokerLog(base);
    if (all || args.contains(QStringLiteral("sync"))) {
        benchSyncLog(base);
        benchSyncStart(base);
    }
    if (all || args.contains(QStringLiteral("flood")))
        benchSyncFlood(base);
    if (all || args.contains(QStringLiteral("eventloop"))) {
        if (!args.contains(QStringLiteral("refresh")) && !all)
            benchRefresh(base);
        benchEventLoop(base);
    }
    if (all || args.contains(QStringLiteral("ctl")))
        benchListCommand(base);
    if (all || args.contains(QStringLiteral("workstations")))
        benchWorkstations(base);
    if (all || args.contains(QStringLiteral("bursts")))
        benchLogBursts(base);
    if (all || args.contains(QStringLiteral("memory")))
        benchWindowMemory(base);
    if (args.contains(QStringLiteral("locked")))
        benchLockedRefresh(base);
    if (all || args.contains(QStringLiteral("actions")))
        benchManyTasks(base);
    if (all || args.contains(QStringLiteral("journal")))
        benchJournal(base);
    if (args.contains(QStringLiteral("day")))
        benchWorkingDay(base);
    if (all || args.contains(QStringLiteral("schedule")))
        benchHugeScheduledTaskFile(base);
    return 0;
}
