// The busy cursor while a styling run lasts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults_support.h"

namespace faults {
namespace {

class BusyCursorTest : public FaultTest {};

TEST_F(BusyCursorTest, TheRunShowsTheBusyCursorAndPutsTheUsualOneBack) {
  Start();
  WriteRuleSet("set.txt", "a\tS\na\tP\tp");
  SetContent("A/1:a");
  Reactivate();
  platform::headless::ClearBusyCursorChanges();
  ClearCalls();
  ASSERT_TRUE(ClickRow("set"));
  EXPECT_EQ(Calls().size(), 3u) << "the run reached the host";
  EXPECT_EQ(platform::headless::BusyCursorChanges(), (std::vector<bool>{true, false}));

  // A run that ends in an exception: without the application object the
  // host scripts cannot be found.
  const auto app = platform::getAppObject();
  platform::RuntimeRegisterAppObject(nullptr);
  platform::headless::ClearBusyCursorChanges();
  ClearCalls();
  EXPECT_THROW(ClickRow("set"), platform::NilObjectException);
  platform::RuntimeRegisterAppObject(app);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(platform::headless::BusyCursorChanges(), (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace faults
