// The application class and the accessor of the one application object.
#pragma once

#include <memory>

#include "platform/runtime.h"

class App : public platform::Application {
 public:
  // Does nothing: the application object needs no set-up of its own.
  void Constructor() {}

  static const platform::ClassInfo& Class();
};

// The registered application object, as an App (nil before start-up has
// registered it).
std::shared_ptr<class App> App();
