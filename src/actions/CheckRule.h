#pragma once

#include <QString>

namespace corvane {

// What checking or unchecking a row does. Only package rows (tag "policy") stay checked; checking one
// marks its name in bold and turns automatic refresh off, so the next refresh does not wipe the choice.
struct CheckOutcome {
    bool checked;     // the row's check mark after the rule
    bool bold;        // the application cell's bold flag after the rule (unchanged when !applies)
    bool boldApplies; // whether the rule sets the bold flag at all
    bool autoOff;     // whether automatic refresh is switched off
};

inline CheckOutcome applyCheckRule(const QString& tag, bool nowChecked) {
    if (tag != QLatin1String("policy"))
        return {false, false, false, false};
    return {nowChecked, nowChecked, true, nowChecked};
}

} // namespace corvane
