// corvane: the main window over the local agent.
#include "AgentPaths.h"
#include "Form1.h"
#include "MessagePresenter.h"

#include <QApplication>
#include <QCommandLineParser>

using namespace corvane;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/corvane/corvane.png")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows and steers the local agent's software distribution."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rootOption = AgentPaths::rootOption();
    parser.addOption(rootOption);
    parser.process(app);

    MessageBoxPresenter messages;
    Form1 form(AgentPaths(parser.value(rootOption)), messages);
    messages.setParent(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
