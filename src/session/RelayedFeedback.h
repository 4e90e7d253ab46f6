#pragma once

#include "base/OffThread.h"
#include "tasklist/Feedback.h"

#include <functional>

namespace corvane {

// The Feedback a worker off the interface thread is given: its status texts reach `show` on the interface
// thread, in order, ahead of the worker's result, for as long as `receiver` lives. Work off the interface
// thread asks nothing of the technician: it reports in its result.
class RelayedFeedback final : public Feedback {
public:
    RelayedFeedback(QObject* receiver, std::function<void(const QString&)> show)
        : m_relay(receiver)
        , m_show(std::move(show)) {}
    void setStatus(const QString& text) override {
        m_relay.post([show = m_show, text] { show(text); });
    }

private:
    InterfaceThreadRelay m_relay;
    std::function<void(const QString&)> m_show;
};

} // namespace corvane
