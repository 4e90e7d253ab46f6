// corvane-fake-agent: writes a simulated agent's files, for the demo and for trying Corvane by hand.
#include "AgentTree.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTextStream>

using namespace corvane;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-fake-agent"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a simulated agent below a folder.\n\n"
                       "Commands:\n  init DIR   write a realistic agent tree below DIR"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("init"));
    parser.addPositionalArgument(QStringLiteral("dir"), QStringLiteral("the agent root folder"));
    parser.process(app);

    QTextStream err(stderr);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || args.at(0) != QLatin1String("init")) {
        err << parser.helpText();
        return 2;
    }
    const QString root = QDir(args.at(1)).absolutePath();
    QString error;
    if (!fake::writeDemoAgent(root, QDateTime::currentDateTime(), error)) {
        err << "corvane-fake-agent: " << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "Agent tree written below " << root << '\n';
    return 0;
}
