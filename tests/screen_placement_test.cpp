// Where a window frame opens on the screens there are: where it was asked
// to be while its title bar shows on a screen, else on the nearest screen.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/ui.h"

using platform::PlaceFrameOnScreens;
using platform::ScreenRect;

namespace {

const ScreenRect kMain{0, 0, 1280, 1024};
const ScreenRect kRight{1280, 0, 800, 600};  // beside the main screen, shorter
const ScreenRect kAbove{0, -768, 1024, 768};
const ScreenRect kLeft{-1280, 0, 1280, 1024};  // a monitor left of the main one
const ScreenRect kFarLow{INT_MIN, INT_MIN, 1024, 768};
const ScreenRect kFarHigh{INT_MAX - 1023, INT_MAX - 767, 1024, 768};  // ends at the last int

struct Case {
  const char* what;
  ScreenRect frame;
  int title;
  std::vector<ScreenRect> screens;
  std::pair<int, int> expected;
};

TEST(ScreenPlacementTest, FrameStaysWhileItsTitleBarShowsElseGoesToTheNearestScreen) {
  const std::vector<Case> cases = {
      // On a screen: exactly where it was asked to be.
      {"inside the main screen", {120, 90, 300, 219}, 0, {kMain}, {120, 90}},
      {"the design frame at the corner", {10, 40, 160, 179}, 24, {kMain}, {10, 40}},
      {"only the title bar's left end shows", {1279, 90, 300, 219}, 24, {kMain}, {1279, 90}},
      {"only the title bar's top row shows", {120, 1023, 300, 219}, 24, {kMain}, {120, 1023}},
      {"the right end shows from off the left edge", {-299, 90, 300, 219}, 24, {kMain}, {-299, 90}},
      {"on the second screen", {1500, 100, 300, 219}, 24, {kMain, kRight}, {1500, 100}},
      {"on a screen above the main one", {100, -700, 300, 219}, 24, {kMain, kAbove}, {100, -700}},
      {"no screens known", {99999, 90, 300, 219}, 24, {}, {99999, 90}},

      // Off every screen: onto the nearest, as far inside as it fits.
      {"far right (X wraps 99999)", {99999, 90, 300, 219}, 24, {kMain}, {980, 90}},
      {"just past the right edge", {1280, 90, 300, 219}, 24, {kMain}, {980, 90}},
      {"below the bottom", {120, 1024, 300, 219}, 24, {kMain}, {120, 805}},
      {"title bar of one row (no frame) below the bottom", {120, 1024, 300, 219}, 0, {kMain}, {120, 805}},
      {"far off both ways", {-99999, -99999, 300, 219}, 24, {kMain}, {0, 0}},
      {"the whole range", {INT_MAX, INT_MAX, 300, 219}, 24, {kMain}, {980, 805}},
      {"its monitor unplugged", {1500, 100, 300, 219}, 24, {kMain}, {980, 100}},
      {"below the shorter second screen: onto it", {1500, 700, 300, 219}, 24, {kMain, kRight}, {1500, 381}},
      {"right of the second screen", {5000, 300, 300, 219}, 24, {kMain, kRight}, {1780, 300}},
      {"wider and taller than the screen", {5000, 40, 1400, 1100}, 24, {kMain}, {0, 0}},
      {"a screen of no size counts for nothing", {5000, 40, 300, 219}, 24, {{4000, 0, 0, 0}, kMain}, {980, 40}},

      // A monitor left of the main one, and monitors at the ends of int:
      // the distances to compare span more than 2^32 each way.
      {"off the left monitor's far side", {-99999, 90, 300, 219}, 24, {kMain, kLeft}, {-1280, 90}},
      {"far right of the main screen, a monitor on its left", {INT_MAX, 90, 300, 219}, 24, {kLeft, kMain}, {980, 90}},
      {"on the monitor at the far negative corner", {INT_MIN, INT_MIN, 300, 219}, 24, {kMain, kFarLow},
       {INT_MIN, INT_MIN}},
      {"the far positive corner, a monitor at the far negative one", {INT_MAX, INT_MAX, 300, 219}, 24,
       {kMain, kFarLow}, {980, 805}},
      {"the far positive corner and wide, a monitor at the far negative one", {INT_MAX, INT_MAX, INT_MAX, INT_MAX}, 24,
       {kFarLow, kMain}, {0, 0}},
      {"the far negative corner, a monitor at the far positive one", {INT_MIN, INT_MIN, 300, 219}, 24,
       {kFarHigh, kMain}, {0, 0}},
      {"the far negative corner, only a monitor at the far positive one", {INT_MIN, INT_MIN, 300, 219}, 24,
       {kFarHigh}, {INT_MAX - 1023, INT_MAX - 767}},
      {"the far positive corner, monitors at both far corners", {INT_MAX - 2000, INT_MAX - 2000, 300, 219}, 24,
       {kFarLow, kMain, kFarHigh}, {INT_MAX - 1023, INT_MAX - 767}},
      {"a monitor from the last int rightwards, above", {INT_MIN, 0, 300, 219}, 24,
       {{INT_MAX, INT_MIN, INT_MAX, INT_MAX}}, {INT_MAX, -220}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PlaceFrameOnScreens(c.frame, c.title, c.screens), c.expected);
  }
}

TEST(ScreenPlacementTest, WindowTakesThePlaceSilently) {
  auto window = std::make_shared<platform::Window>();
  int moved = 0;
  window->AddEventHandler(platform::WindowEvent::Moved, [&] { ++moved; });
  window->Left(99999);
  window->Top(90);
  EXPECT_TRUE(window->PlaceOnScreens({kMain}, 160, 179, 0));
  EXPECT_EQ(window->Left(), 1120);
  EXPECT_EQ(window->Top(), 90);
  EXPECT_FALSE(window->PlaceOnScreens({kMain}, 160, 179, 0));
  EXPECT_EQ(window->Left(), 1120);
  EXPECT_EQ(moved, 0);
}

}  // namespace
