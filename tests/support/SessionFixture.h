#pragma once

#include "DemoAgent.h"
#include "RecordingPresenter.h"
#include "session/AgentSession.h"

#include <QSignalSpy>

#include <memory>

namespace corvane::test {

// A session on a simulated agent, without a window: the agent is written first, then open() starts the
// session on it. Every synchroniser a test starts has ended before the agent's folder goes.
struct SessionFixture {
    TestAgent agent;
    RecordingPresenter messages;
    std::unique_ptr<AgentSession> session;

    ~SessionFixture() {
        if (session)
            session->shutdown();
        synchronisersEnded(agent);
    }

    // Starts the session and reads the list once; false when the read did not end in time.
    bool open() {
        session = std::make_unique<AgentSession>(agent.paths(), messages, kClock);
        return read([this] { session->refresh(); });
    }
    // A session on the agent as another workstation's, `name`, its share the agent's folder; false when its
    // first read did not end in time.
    bool openRemote(const QString& name = QStringLiteral("WS0123")) {
        session = std::make_unique<AgentSession>(Workstation{name, agent.root(), true}, messages, kClock);
        return read([this] { session->refresh(); });
    }
    // Does what starts a read of the agent and waits until the session has shown its outcome.
    bool read(const std::function<void()>& start, int timeoutMs = 30000) {
        QSignalSpy ended(session.get(), &AgentSession::taskListRead);
        start();
        return !ended.isEmpty() || ended.wait(timeoutMs);
    }
};

} // namespace corvane::test
