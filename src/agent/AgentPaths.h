#pragma once

#include <QCommandLineOption>
#include <QString>

namespace corvane {

// The six files of the agent that Corvane reads, changes or starts. On Windows they sit at the agent's fixed
// paths; below an agent root (tests, the demo, other systems) each fixed path loses its drive and its
// backslashes become folder separators. The files of the agent's program folder are taken from
// "Program Files (x86)" when only that folder holds the agent (a 32-bit agent on 64-bit Windows).
class AgentPaths {
public:
    // The agent's own paths on Windows; elsewhere the same paths below the file system's root.
    AgentPaths();
    // The agent's paths below `root`; an empty root means the default above.
    explicit AgentPaths(const QString& root);
    // The described places below `root`, without looking which program folder holds the agent (nothing on
    // the disk is touched): for a root over the network, until it has been looked at off the interface
    // thread.
    static AgentPaths withoutLooking(const QString& root);

    QString database() const { return m_database; }
    // The folder of the package descriptors, ending with a separator so a file name can follow directly.
    QString descriptorFolder() const { return m_descriptorFolder; }
    QString descriptor(const QString& operationFile) const { return m_descriptorFolder + operationFile; }
    QString scheduledTasks() const { return m_scheduledTasks; }
    QString invokerLog() const { return m_invokerLog; }
    QString synchroniser() const { return m_synchroniser; }
    QString syncLog() const { return m_syncLog; }
    // Corvane's own journal of the changes it makes to the agent's database: in the machine's ProgramData
    // folder (below the agent root when one is given), never among the agent's files.
    QString journal() const { return m_journal; }
    void setJournal(const QString& path) { m_journal = path; }
    // Corvane's own folder (its machine-wide Policy Sync lock), beside the agent's data.
    QString corvaneFolder() const { return m_corvaneFolder; }

    // Looks again for the agent's program folder: true, with the paths below it changed, when the agent moved
    // between "Program Files" and "Program Files (x86)" since these paths were made.
    bool relocate();

    // The --agent-root DIR option that both executables take.
    static QCommandLineOption rootOption();
    // The --journal FILE option that both executables take.
    static QCommandLineOption journalOption();

    // Maps one fixed Windows path below `root` (drive dropped, backslashes turned into '/').
    static QString belowRoot(const QString& root, const QString& windowsPath);

private:
    AgentPaths(const QString& root, bool look);

    QString m_root;
    QString m_database;
    QString m_descriptorFolder;
    QString m_scheduledTasks;
    QString m_invokerLog;
    QString m_synchroniser;
    QString m_syncLog;
    QString m_journal;
    QString m_corvaneFolder;
};

} // namespace corvane
