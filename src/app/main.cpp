// corvane: the main window over the local agent.
#include "agent/AgentPaths.h"
#include "agent/Workstation.h"
#include "ui/AppFont.h"
#include "ui/Form1.h"
#include "ui/MessageBoxPresenter.h"
#include "ui/SettingsFile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QSettings>
#include <QTimer>

using namespace corvane;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    // The per-user store of organisation and application "Corvane": the one the window's settings are kept
    // in.
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/corvane/corvane.png")));
    useApplicationFont();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows and steers the local agent's software distribution."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rootOption = AgentPaths::rootOption();
    const QCommandLineOption journalOption = AgentPaths::journalOption();
    const QCommandLineOption workstationFoldersOption(
        QStringLiteral("workstation-folders"),
        QStringLiteral("Reach workstation NAME at DIR/NAME instead of its administrative share "
                       "(a demo, or shares mounted in one folder)."),
        QStringLiteral("DIR"));
    parser.addOption(rootOption);
    parser.addOption(journalOption);
    parser.addOption(workstationFoldersOption);
    parser.process(app);

    AgentPaths paths(parser.value(rootOption));
    if (parser.isSet(journalOption))
        paths.setJournal(parser.value(journalOption));
    // Before any settings are read: an unusable file would keep the window from appearing, or slow it down.
    const QString settingsNotice = setAsideUnusableSettings(userSettingsFile());
    MessageBoxPresenter messages;
    Form1 form(paths, messages);
    messages.setParent(&form);
    // The technician's arrangement of the window, per user; the agent's data is never stored here.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
                       QStringLiteral("Corvane"));
    form.restoreSettings(settings);
    if (parser.isSet(workstationFoldersOption)) {
        const QString folders = parser.value(workstationFoldersOption);
        form.setWorkstationResolver(
            [folders](const QString& typed, Workstation& workstation, QString& error) {
                if (!workstationByName(typed, workstation, error))
                    return false; // a name only: nothing typed reaches beyond the folder
                workstation.root = QDir(folders).filePath(workstation.name);
                return true;
            });
    }
    form.Form_Load();
    form.show();
    if (!settingsNotice.isEmpty())
        QTimer::singleShot(0, &form, [&messages, settingsNotice] {
            messages.show(settingsNotice, QStringLiteral("Corvane"), MessagePresenter::Icon::None);
        });
    const int status = app.exec();
    form.saveSettings(settings);
    return status;
}
