#pragma once

namespace corvane {

// What decides which of the window's controls may be used.
struct SessionFacts {
    bool databaseMissing = false;
    bool syncRunning = false;
    bool actionRunning = false; // from the preview to the report
    bool messageOpen = false;   // a message the technician has not yet acknowledged
};

struct ControlState {
    bool refresh = true;
    bool policySync = true;
    bool stopInstall = true;
    bool reinstall = true;
    bool autoRefresh = true;    // "Auto" can be ticked
    bool listMayRebuild = true; // a timer tick may replace the list's rows

    bool operator==(const ControlState& other) const {
        return refresh == other.refresh && policySync == other.policySync &&
               stopInstall == other.stopInstall && reinstall == other.reinstall &&
               autoRefresh == other.autoRefresh && listMayRebuild == other.listMayRebuild;
    }
    bool operator!=(const ControlState& other) const { return !(*this == other); }
};

// Without the database there is nothing to read or reinstall; Stop Install stays, to say why nothing can be
// checked. During a sync nothing else may change the agent. Under an action or a message the list is not
// rebuilt: an action's rows keep their checks if it is cancelled, and the list does not change while the
// technician reads.
inline ControlState controlState(const SessionFacts& facts) {
    ControlState state;
    const bool agentFree = !facts.syncRunning;
    state.refresh = !facts.databaseMissing && agentFree;
    state.policySync = !facts.databaseMissing && agentFree;
    state.stopInstall = agentFree;
    state.reinstall = !facts.databaseMissing && agentFree;
    state.autoRefresh = !facts.databaseMissing;
    state.listMayRebuild = !facts.actionRunning && !facts.messageOpen;
    return state;
}

} // namespace corvane
