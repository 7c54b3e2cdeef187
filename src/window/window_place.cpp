#include "window/window_place.h"

#include <algorithm>
#include <limits>

namespace {

qint64 Covered(const QRect &owner, const QRect &window)
{
    const QRect both = owner.intersected(window);
    return both.isEmpty() ? 0 : qint64(both.width()) * qint64(both.height());
}

} // namespace

QPoint PlaceBeside(const QRect &owner, const QSize &size, const QRect &available)
{
    const auto OnScreen = [&](const QPoint &at) {
        return QPoint(std::max(available.left(), std::min(at.x(), available.right() + 1 - size.width())),
                      std::max(available.top(), std::min(at.y(), available.bottom() + 1 - size.height())));
    };
    // In order of preference: the first that covers least wins.
    const QPoint tries[] = {
        {owner.right() + 1, owner.top()},                          // right of the owner
        {owner.left() - size.width(), owner.top()},                // left
        {owner.left(), owner.bottom() + 1},                        // below
        {owner.left(), owner.top() - size.height()},               // above
        {available.right() + 1 - size.width(), available.bottom() + 1 - size.height()}, // the screen's corners
        {available.left(), available.bottom() + 1 - size.height()},
        {available.right() + 1 - size.width(), available.top()},
        available.topLeft(),
    };
    QPoint best;
    qint64 nLeast = std::numeric_limits<qint64>::max();
    for (const QPoint &at : tries) {
        const QPoint placed = OnScreen(at);
        const qint64 nCovered = Covered(owner, QRect(placed, size));
        if (nCovered < nLeast) {
            best = placed;
            nLeast = nCovered;
        }
    }
    return best;
}
