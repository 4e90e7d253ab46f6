#pragma once

#include "FixedClock.h"
#include "TestAgent.h"
#include "sync/PolicySyncRun.h"
#include "sync/SynchroniserSystem.h"

#include <QTest>

#include <optional>

namespace corvane::test {

// Every window and session of the tests lives on the same fixed day.
inline const FixedClock kClock;

// The simulated agent of the demo, on the fixed day; with `sync`, the stand-in synchroniser is installed and
// behaves as it says. False, with the reason in `error`, when it could not be written.
inline bool writeDemo(const TestAgent& agent, QString& error,
                      const std::optional<fake::SyncOptions>& sync = std::nullopt) {
    return fake::writeDemoAgent(agent.root(), kClock.now(), error,
                                sync ? QStringLiteral(FAKE_AGENT_PATH) : QString(),
                                sync.value_or(fake::SyncOptions()));
}

// The same, the reason of a failure in the test's output.
inline bool writeDemo(const TestAgent& agent, const std::optional<fake::SyncOptions>& sync = std::nullopt) {
    QString error;
    if (writeDemo(agent, error, sync))
        return true;
    qWarning("Can't write the demo agent: %s", qPrintable(error));
    return false;
}

// A stand-in synchroniser quick enough for tests: it writes a line every 40 ms.
inline fake::SyncOptions quickSync(bool neverStop = false, int holdMs = 0) {
    fake::SyncOptions options;
    options.delayMs = 40;
    options.neverStop = neverStop;
    options.holdMs = holdMs;
    return options;
}

// A Policy Sync that looks at the log often and holds its summary briefly.
inline PolicySyncRun::Timing quickSyncTiming(int timeoutMs = 20000) {
    PolicySyncRun::Timing timing;
    timing.passIntervalMs = 50;
    timing.summaryHoldMs = 300;
    timing.timeoutMs = timeoutMs;
    timing.quietLogMs = 300;
    return timing;
}

// Waits until no synchroniser of `agent` runs any more, so that none outlives its test's folder.
inline bool synchronisersEnded(const TestAgent& agent, int timeoutMs = 30000) {
    return QTest::qWaitFor([&agent] { return findSynchronisers(agent.paths().synchroniser()).isEmpty(); },
                           timeoutMs);
}

} // namespace corvane::test
