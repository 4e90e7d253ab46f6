#include "agent/AgentPaths.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <shlobj.h>
#endif

namespace corvane {

namespace {
const QString kDatabase = QStringLiteral("C:\\Documents and Settings\\All Users\\Application "
                                         "Data\\LANDesk\\ManagementSuite\\Database\\LDClientDB.db3");
const QString kDescriptorFolder = QStringLiteral(
    "C:\\Documents and Settings\\All Users\\Application Data\\LANDesk\\ManagementSuite\\landesk\\files\\");
const QString kScheduledTasks = QStringLiteral("C:\\Program Files\\LANDesk\\LDClient\\sdclient.tasks.xml");
const QString kInvokerLog = QStringLiteral("C:\\Program Files\\LANDesk\\LDClient\\policy.client.invoker.log");
const QString kSynchroniser = QStringLiteral("C:\\Program Files\\LANDesk\\LDClient\\policy.sync.exe");
const QString kSyncLog = QStringLiteral("C:\\Program Files\\LANDesk\\LDClient\\policy.sync.log");
const QString kCorvaneFolder = QStringLiteral("C:\\ProgramData\\Corvane");
// A 32-bit agent on 64-bit Windows installs its program folder here instead.
const QString kProgramFiles = QStringLiteral("C:\\Program Files\\");
const QString kProgramFiles32 = QStringLiteral("C:\\Program Files (x86)\\");
const QString kAgentFolder = QStringLiteral("LANDesk\\LDClient");

const QString kJournal = QStringLiteral("C:\\ProgramData\\Corvane\\journal.db3");

bool isFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

// The machine's ProgramData folder as Windows knows it, wherever it was moved.
QString programDataJournal() {
#ifdef Q_OS_WIN
    PWSTR folder = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder))) {
        const QString path = QString::fromWCharArray(folder) + QStringLiteral("\\Corvane\\journal.db3");
        CoTaskMemFree(folder);
        return path;
    }
#endif
    return kJournal;
}
} // namespace

AgentPaths::AgentPaths()
    : AgentPaths(QString()) {}

AgentPaths::AgentPaths(const QString& root)
    : AgentPaths(root, true) {}

AgentPaths AgentPaths::withoutLooking(const QString& root) {
    return AgentPaths(root, false);
}

AgentPaths::AgentPaths(const QString& root, bool look)
    : m_root(root) {
#ifdef Q_OS_WIN
    const bool fixed = root.isEmpty();
#else
    const bool fixed = false;
#endif
    const QString base = root.isEmpty() ? QStringLiteral("/") : root;
    auto located = [&](const QString& windowsPath) {
        return fixed ? windowsPath : belowRoot(base, windowsPath);
    };
    // The described program folder first; the 32-bit one only when it alone exists.
    const bool programFiles32 = look && !isFolder(located(kProgramFiles + kAgentFolder)) &&
                                isFolder(located(kProgramFiles32 + kAgentFolder));
    auto place = [&](QString windowsPath) {
        if (programFiles32 && windowsPath.startsWith(kProgramFiles))
            windowsPath.replace(0, kProgramFiles.size(), kProgramFiles32);
        return located(windowsPath);
    };
    m_database = place(kDatabase);
    m_descriptorFolder = place(kDescriptorFolder);
    m_scheduledTasks = place(kScheduledTasks);
    m_invokerLog = place(kInvokerLog);
    m_synchroniser = place(kSynchroniser);
    m_syncLog = place(kSyncLog);
    m_journal = fixed ? programDataJournal() : belowRoot(base, kJournal);
    m_corvaneFolder = located(kCorvaneFolder);
}

bool AgentPaths::relocate() {
    AgentPaths found(m_root);
    if (found.m_invokerLog == m_invokerLog)
        return false;
    found.m_journal = m_journal; // where the technician asked for it stays
    *this = found;
    return true;
}

QCommandLineOption AgentPaths::journalOption() {
    return QCommandLineOption(
        QStringLiteral("journal"),
        QStringLiteral("Keep the journal of changes in FILE instead of its usual place."),
        QStringLiteral("FILE"));
}

QCommandLineOption AgentPaths::rootOption() {
    return QCommandLineOption(
        QStringLiteral("agent-root"),
        QStringLiteral("Find the agent's files below DIR instead of at their fixed places."),
        QStringLiteral("DIR"));
}

QString AgentPaths::belowRoot(const QString& root, const QString& windowsPath) {
    QString relative = windowsPath;
    if (relative.size() >= 3 && relative.at(1) == QLatin1Char(':') && relative.at(2) == QLatin1Char('\\'))
        relative = relative.mid(3);
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString base = QDir::cleanPath(root);
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + relative;
}

} // namespace corvane
