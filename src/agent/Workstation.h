#pragma once

#include <QString>

namespace corvane {

// A machine whose agent Corvane shows: the one it runs on, or another workstation reached through its
// administrative share, below which the agent's fixed paths sit as they do on the local machine.
struct Workstation {
    // As the technician gave it: a machine name, or the folder given with --agent-root. Empty for the
    // machine Corvane runs on.
    QString name;
    // The agent root for AgentPaths: "\\NAME\C$" for a workstation by name, the folder itself for a folder
    // that stands in for a share; empty for the local machine's fixed paths.
    QString root;
    // Reached over the network: read-only until the technician allows changes, no Policy Sync.
    bool remote = false;

    bool operator==(const Workstation& other) const {
        return name == other.name && root == other.root && remote == other.remote;
    }
};

// The administrative share of workstation `name`: "\\NAME\C$".
QString administrativeShare(const QString& name);

// The workstation a technician named: surrounding space and leading backslashes are dropped, the rest must
// be a machine name (letters, digits, '-', '_' and '.', at most 253 characters, not starting or ending with
// '.' or '-'), so that nothing typed can reach another share or folder. False, with the reason, otherwise.
bool workstationByName(const QString& typed, Workstation& workstation, QString& error);

// A folder standing in for a workstation's share (a mounted share, a test): named by the folder as given.
Workstation workstationAtRoot(const QString& root);

} // namespace corvane
