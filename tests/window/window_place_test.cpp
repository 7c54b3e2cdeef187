#include "window/window_place.h"

#include <gtest/gtest.h>

namespace {

// The screen of the window tried by hand: 1280 x 900, the main window as
// openbox centres it (its frame), the chart window's frame.
const QRect SCREEN(0, 0, 1280, 900);
const QRect CENTRED_MAIN(207, 111, 848, 598);
const QSize CHARTS(923, 585);

TEST(PlaceBeside, BesideTheOwnerWhereItFitsElseCoveringLeast)
{
    const struct {
        const char *pName;
        QRect owner;
        QSize size;
        QRect available;
        QPoint expected;
    } cases[] = {
        {"room on the right", {100, 50, 400, 300}, {500, 400}, SCREEN, {500, 50}},
        {"just room on the right", {0, 0, 780, 300}, {500, 400}, SCREEN, {780, 0}},
        {"room on the left only", {700, 100, 500, 300}, {500, 400}, SCREEN, {200, 100}},
        {"room below only", {100, 0, 1000, 300}, {500, 400}, SCREEN, {100, 300}},
        {"room above only", {100, 500, 1000, 400}, {500, 400}, SCREEN, {100, 100}},
        {"owner low on the screen: beside it, up to the screen's bottom", {0, 700, 400, 200}, {500, 400}, SCREEN,
         {400, 500}},
        {"no room: the corner that covers least", CENTRED_MAIN, CHARTS, SCREEN, {357, 315}},
        {"larger than the screen: its top left corner", {0, 0, 400, 300}, {1400, 1000}, SCREEN, {0, 0}},
        {"a second screen below a panel", {1300, 40, 400, 300}, {500, 400}, {1280, 30, 1920, 1050}, {1700, 40}},
        {"owner partly off the screen", {-200, 100, 400, 300}, {500, 400}, SCREEN, {200, 100}},
    };
    for (const auto &c : cases) {
        const QPoint placed = PlaceBeside(c.owner, c.size, c.available);
        EXPECT_EQ(placed, c.expected) << c.pName << ": got " << placed.x() << ',' << placed.y();
        EXPECT_TRUE(c.available.contains(QRect(placed, c.size)) || c.size.width() > c.available.width()
                    || c.size.height() > c.available.height())
            << c.pName;
    }
}

} // namespace
