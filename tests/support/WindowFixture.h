#pragma once

#include "DemoAgent.h"
#include "RecordingPresenter.h"
#include "TaskListHelpers.h"
#include "session/AgentSession.h"
#include "ui/Form1.h"

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace corvane::test {

// The main window on a simulated agent, its settings in a file of its own. The agent is written first, then
// open() makes the window on it. Every synchroniser a test starts has ended before the agent's folder goes.
struct WindowFixture {
    TestAgent agent;
    RecordingPresenter messages;
    QTemporaryDir settingsFolder;
    QSettings settings{settingsFolder.filePath(QStringLiteral("corvane.ini")), QSettings::IniFormat};
    std::unique_ptr<Form1> form;

    ~WindowFixture() {
        form.reset();
        synchronisersEnded(agent);
    }

    // Makes the window and reads the list once; false when the read did not end in time.
    bool open(const PolicySyncRun::Timing& timing = quickSyncTiming()) {
        form = std::make_unique<Form1>(agent.paths(), messages, kClock);
        form->session()->setSyncTiming(timing);
        return load(*form);
    }
    // The demo agent in a shown window, its list read; false when any step failed.
    bool openDemo(const std::optional<fake::SyncOptions>& sync = std::nullopt) {
        if (!writeDemo(agent, sync) || !open())
            return false;
        form->show();
        return QTest::qWaitForWindowExposed(form.get());
    }
};

} // namespace corvane::test
