#pragma once

#include <QString>

namespace corvane {

// Where the layers below the window report their progress: the status line, the command line or a test.
class Feedback {
public:
    virtual ~Feedback() = default;
    // Shows a progress text in the status line; the empty text clears it.
    virtual void setStatus(const QString& text) = 0;
};

} // namespace corvane
