#pragma once

#include <QString>

namespace corvane {

// True when the agent root of a workstation (its administrative share, or a folder standing in for it) is a
// folder that can be reached now; false with the reason otherwise, in the system's words and naming the
// root: "\\WS0123\C$: access is denied", "\\WS0123\C$: the network path was not found". May wait as long as
// the network does: never on the interface thread.
bool shareAnswers(const QString& root, QString& error);
// The same with the reason alone, for a caller that names the workstation itself: "access is denied".
bool shareReachable(const QString& root, QString& reason);

// "did not answer within 10 s".
QString didNotAnswerWithin(int deadlineMs);

// What a workstation tab or a read says of a root that gave no answer for `deadlineMs`:
// "\\WS0123\C$: did not answer within 10 s".
QString shareDidNotAnswer(const QString& root, int deadlineMs);

} // namespace corvane
