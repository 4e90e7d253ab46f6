// corvane-fake-agent: writes a simulated agent's files, and stands in for its policy synchroniser.
#include "AgentTree.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>

using namespace corvane;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-fake-agent"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated management agent, for the demo and for trying Corvane by hand.\n\n"
        "Commands:\n"
        "  init DIR      write a realistic agent tree below DIR, with a stand-in synchroniser\n"
        "  synchronise   what the stand-in synchroniser does (needs --agent-root)\n"
        "  hold-lock     hold an exclusive lock on the agent database, as a busy agent does, until\n"
        "                standard input closes (needs --agent-root); prints \"locked\" once it holds it;\n"
        "                with --half-written, holds a write under way, for a kill to interrupt\n"
        "  append-log FILE LINES INTERVAL_MS\n"
        "                append LINES stamped lines to FILE, one every INTERVAL_MS, holding it open\n"
        "                as the agent's logger does until standard input closes; prints \"open\" once it\n"
        "                is open\n\n"
        "The synchroniser options apply to the synchroniser that init installs, or to synchronise."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rootOption(QStringLiteral("agent-root"),
                                        QStringLiteral("The agent's root folder."), QStringLiteral("DIR"));
    const QCommandLineOption halfWrittenOption(
        QStringLiteral("half-written"),
        QStringLiteral("hold-lock: with a write under way, never committed."));
    const QCommandLineOption delayOption(
        QStringLiteral("delay-ms"),
        QStringLiteral("Synchroniser: pause between two log lines (default 400)."), QStringLiteral("MS"),
        QStringLiteral("400"));
    const QCommandLineOption neverStopOption(QStringLiteral("never-stop"),
                                             QStringLiteral("Synchroniser: never write the [STOP] line."));
    const QCommandLineOption failOption(QStringLiteral("fail"),
                                        QStringLiteral("Synchroniser: exit at once."));
    const QCommandLineOption freshOption(
        QStringLiteral("fresh-log"),
        QStringLiteral("Synchroniser: start its log afresh instead of appending."));
    const QCommandLineOption chatterOption(
        QStringLiteral("chatter"),
        QStringLiteral(
            "Synchroniser: also write each log line to standard output, and notes to standard error."));
    const QCommandLineOption floodRateOption(
        QStringLiteral("flood-bytes-per-second"),
        QStringLiteral(
            "Synchroniser: before the end line, fill the log at this rate (default 0: not at all)."),
        QStringLiteral("BYTES"), QStringLiteral("0"));
    const QCommandLineOption floodSecondsOption(QStringLiteral("flood-seconds"),
                                                QStringLiteral("Synchroniser: how long to fill the log."),
                                                QStringLiteral("SECONDS"), QStringLiteral("0"));
    const QCommandLineOption holdOption(
        QStringLiteral("hold-ms"),
        QStringLiteral("Synchroniser: stay running this long after the last line (default 0)."),
        QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption wipeOption(
        QStringLiteral("wipe-log"),
        QStringLiteral("Synchroniser: empty or delete its log halfway through the run."),
        QStringLiteral("empty|delete"));
    const QCommandLineOption recordStartupOption(
        QStringLiteral("record-startup"),
        QStringLiteral("Synchroniser: write to FILE how it was asked to show its window."),
        QStringLiteral("FILE"));
    const QCommandLineOption handOverOption(
        QStringLiteral("hand-over"),
        QStringLiteral(
            "Synchroniser: start a copy of itself to do the work, and exit with status 0 at once."));
    const QCommandLineOption exitStatusOption(
        QStringLiteral("exit-status"),
        QStringLiteral("Synchroniser: exit at once with STATUS (decimal, or hexadecimal after 0x), writing "
                       "nothing."),
        QStringLiteral("STATUS"));
    parser.addOptions({handOverOption, exitStatusOption, holdOption, halfWrittenOption, rootOption,
                       delayOption, neverStopOption, failOption, freshOption, chatterOption, floodRateOption,
                       floodSecondsOption, wipeOption, recordStartupOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("init or synchronise"));
    // Started as the agent's synchroniser, which is run without arguments: the command line is in the file
    // that installSynchroniser wrote beside the copy.
    QStringList arguments = QCoreApplication::arguments();
    QFile baked(QCoreApplication::applicationFilePath() + fake::kBakedArgumentsSuffix);
    if (arguments.size() == 1 && baked.open(QIODevice::ReadOnly))
        arguments += QString::fromUtf8(baked.readAll()).split(QLatin1Char('\n'));
    // Parsed, not processed: the parser would answer --help or a bad option in a message box on Windows.
    if (!parser.parse(arguments)) {
        QTextStream(stderr) << parser.errorText() << '\n' << parser.helpText();
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        QTextStream(stdout) << (parser.isSet(QStringLiteral("help")) ? parser.helpText()
                                                                     : QStringLiteral(CORVANE_VERSION "\n"));
        return 0;
    }

    QTextStream err(stderr);
    fake::SyncOptions options;
    bool delayOk = false;
    options.delayMs = parser.value(delayOption).toInt(&delayOk);
    options.neverStop = parser.isSet(neverStopOption);
    options.failAtOnce = parser.isSet(failOption);
    options.freshLog = parser.isSet(freshOption);
    options.chatter = parser.isSet(chatterOption);
    bool holdOk = false;
    options.holdMs = parser.value(holdOption).toInt(&holdOk);
    bool floodOk = false;
    bool floodSecondsOk = false;
    options.floodBytesPerSecond = parser.value(floodRateOption).toInt(&floodOk);
    options.floodSeconds = parser.value(floodSecondsOption).toInt(&floodSecondsOk);
    delayOk =
        delayOk && floodOk && floodSecondsOk && options.floodBytesPerSecond >= 0 && options.floodSeconds >= 0;
    options.wipeLog = parser.value(wipeOption);
    options.recordStartup = parser.value(recordStartupOption);

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    const bool wipeOk = options.wipeLog.isEmpty() || options.wipeLog == QLatin1String("empty") ||
                        options.wipeLog == QLatin1String("delete");
    if (!delayOk || !wipeOk || options.delayMs < 0 ||
        (command == QLatin1String("init") && args.size() != 2) ||
        (command == QLatin1String("synchronise") && (args.size() != 1 || !parser.isSet(rootOption))) ||
        (command == QLatin1String("hold-lock") && (args.size() != 1 || !parser.isSet(rootOption))) ||
        (command == QLatin1String("append-log") && args.size() != 4) ||
        (command != QLatin1String("init") && command != QLatin1String("synchronise") &&
         command != QLatin1String("hold-lock") && command != QLatin1String("append-log"))) {
        err << parser.helpText();
        return 2;
    }

    QString error;
    if (command == QLatin1String("append-log")) {
        if (!fake::appendToHeldOpenLog(args.at(1), args.at(2).toInt(), args.at(3).toInt(), error)) {
            err << "corvane-fake-agent: " << error << '\n';
            return 1;
        }
        return 0;
    }
    if (command == QLatin1String("hold-lock")) {
        if (!fake::holdDatabaseLock(parser.value(rootOption), parser.isSet(halfWrittenOption), error)) {
            err << "corvane-fake-agent: " << error << '\n';
            return 1;
        }
        return 0;
    }
    if (command == QLatin1String("synchronise") && parser.isSet(exitStatusOption)) {
        bool ok = false;
        const quint32 status = parser.value(exitStatusOption).toUInt(&ok, 0);
        if (!ok) {
            err << parser.helpText();
            return 2;
        }
        return int(status);
    }
    if (command == QLatin1String("synchronise") && parser.isSet(handOverOption)) {
        // A launcher: the copy, the same program, does the work on its own, holding none of our streams.
        QStringList childArguments = arguments.mid(1);
        childArguments.removeAll(QStringLiteral("--hand-over"));
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments(childArguments);
        child.setStandardInputFile(QProcess::nullDevice());
        child.setStandardOutputFile(QProcess::nullDevice());
        child.setStandardErrorFile(QProcess::nullDevice());
        if (!child.startDetached()) {
            err << "policy.sync: cannot start its worker\n";
            return 1;
        }
        return 0;
    }
    if (command == QLatin1String("synchronise")) {
        if (!fake::runStandInSynchroniser(parser.value(rootOption), options, error)) {
            err << "policy.sync: " << error << '\n';
            return 1;
        }
        return 0;
    }
    const QString root = QDir(args.at(1)).absolutePath();
    if (!fake::writeDemoAgent(root, QDateTime::currentDateTime(), error,
                              QCoreApplication::applicationFilePath(), options)) {
        err << "corvane-fake-agent: " << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "Agent tree written below " << root << '\n';
    return 0;
}
