#pragma once

#include <QString>

namespace corvane {

// Why Policy Sync is not offered for another workstation: the synchroniser runs where it is started.
inline QString remotePolicySyncReason() {
    return QStringLiteral("Policy Sync runs on this computer only: here it would start the synchroniser on "
                          "this computer, not on the workstation");
}

// What decides which of the window's controls may be used.
struct SessionFacts {
    bool databaseMissing = false;
    bool syncRunning = false;
    bool actionRunning = false;  // from the preview to the report
    bool messageOpen = false;    // a message the technician has not yet acknowledged
    bool remote = false;         // another workstation, reached over the network
    bool changesAllowed = false; // "Allow changes over the network", for a remote one
};

struct ControlState {
    bool refresh = true;
    bool policySync = true;
    bool stopInstall = true;
    bool reinstall = true;
    bool undo = true;           // Undo of journal entries, Ctrl+Z included
    bool autoRefresh = true;    // "Auto" can be ticked
    bool listMayRebuild = true; // a timer tick may replace the list's rows

    bool operator==(const ControlState& other) const {
        return refresh == other.refresh && policySync == other.policySync &&
               stopInstall == other.stopInstall && reinstall == other.reinstall && undo == other.undo &&
               autoRefresh == other.autoRefresh && listMayRebuild == other.listMayRebuild;
    }
    bool operator!=(const ControlState& other) const { return !(*this == other); }
};

// Without the database there is nothing to read or reinstall; Stop Install stays, to say why nothing can be
// checked. During a sync nothing else may change the agent. Under an action or a message the list is not
// rebuilt: an action's rows keep their checks if it is cancelled, and the list does not change while the
// technician reads. Another workstation is read only until the technician allows changes over the network,
// and its Policy Sync is never offered.
inline ControlState controlState(const SessionFacts& facts) {
    ControlState state;
    const bool agentFree = !facts.syncRunning;
    const bool mayChange = !facts.remote || facts.changesAllowed;
    state.refresh = !facts.databaseMissing && agentFree;
    state.policySync = !facts.databaseMissing && agentFree && !facts.remote;
    state.stopInstall = agentFree && mayChange;
    state.reinstall = !facts.databaseMissing && agentFree && mayChange;
    state.undo = mayChange;
    state.autoRefresh = !facts.databaseMissing;
    state.listMayRebuild = !facts.actionRunning && !facts.messageOpen;
    return state;
}

} // namespace corvane
