#pragma once

#include <QFont>

namespace corvane {

// The one font of every window of the program, message boxes and dialogs included: Tahoma where the
// machine has it, else a sans serif of about its width. A platform's own default may be a serif (Wine).
QFont applicationFont();
// Makes it the application's font; the first window calls it, before any other is created.
void useApplicationFont();

} // namespace corvane
