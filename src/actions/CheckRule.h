#pragma once

#include "tasklist/TaskRow.h"

namespace corvane {

// What checking or unchecking a row does. Only package rows (the policy tag) stay checked; checking one
// marks its name in bold and turns automatic refresh off, so the next refresh does not wipe the choice.
struct CheckOutcome {
    bool checked;     // the row's check mark after the rule
    bool bold;        // the application cell's bold flag after the rule (unchanged when !applies)
    bool boldApplies; // whether the rule sets the bold flag at all
    bool autoOff;     // whether automatic refresh is switched off
};

inline CheckOutcome applyCheckRule(TaskRow::Tag tag, bool nowChecked) {
    if (tag != TaskRow::Tag::Policy)
        return {false, false, false, false};
    return {nowChecked, nowChecked, true, nowChecked};
}

} // namespace corvane
