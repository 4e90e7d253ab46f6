#pragma once

#include <QRect>

class QWidget;

namespace corvane {

// `frame` (a window with its frame) made no larger than `available` and moved inside it.
QRect fitInto(const QRect& frame, const QRect& available);
// Shrinks and moves `window` so that it lies on the available part of its screen, frame included: a window
// larger than the screen hides its lower controls (a first size at 200 %, a geometry from a larger screen).
void fitOnScreen(QWidget& window);

} // namespace corvane
