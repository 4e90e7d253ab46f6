#pragma once

#include <QString>

namespace corvane {

// What the layers below the window need of whoever drives them: the window, the command line or a test.
class Feedback {
public:
    virtual ~Feedback() = default;
    // Shows a progress text in the status line; the empty text clears it.
    virtual void setStatus(const QString& text) = 0;
    // Tells the technician something and returns once it has been acknowledged.
    virtual void showMessage(const QString& text) = 0;
};

} // namespace corvane
