// Where a window opens beside another one: a pure function of the
// geometries, so that it is tried without a window system.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// The top left corner for a window of frame size `size` that opens beside
// the window framed by `owner`, on the screen part `available`: right of
// it, else left, else below, else above, wherever it fits whole. Where it
// fits nowhere it goes where it covers the least of the owner, flush with
// the owner or in a corner of the screen. It always stays on the screen; a
// window larger than the screen shows its top left corner.
QPoint PlaceBeside(const QRect &owner, const QSize &size, const QRect &available);
