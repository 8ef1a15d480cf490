#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace pelorin {

// Where a frameless window of the given size opens on a screen whose
// available area (the screen less its panels) is given. Along each axis on
// which it fits it is centred; where it does not, it is pulled onto the area
// so that its title strip stays reachable: the top edge on the area's top,
// and the right edge, with the close glyph, on the area's right.
QPoint placeOnScreen(const QSize& window, const QRect& available);

// The same for the window's own size on its screen (the primary screen while
// it has none).
QPoint placeOnScreen(const QWidget* window);

}  // namespace pelorin
