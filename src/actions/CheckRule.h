#pragma once

#include "tasklist/TaskRow.h"

namespace corvane {

// What checking or unchecking a row does, for the window and the command line alike. Only package rows (the
// policy tag) can be checked; checking one marks its name in bold and turns automatic refresh off, so that
// the list holds still while the technician chooses (the marks themselves outlive a rebuild).
struct CheckOutcome {
    bool checked;     // the row's check mark after the rule
    bool bold;        // the application cell's bold flag after the rule (unchanged when !boldApplies)
    bool boldApplies; // whether the rule sets the bold flag at all
    bool autoOff;     // whether automatic refresh is switched off
};

inline CheckOutcome applyCheckRule(TaskRow::Tag tag, bool nowChecked) {
    if (tag != TaskRow::Tag::Policy)
        return {false, false, false, false};
    return {nowChecked, nowChecked, true, nowChecked};
}

} // namespace corvane
