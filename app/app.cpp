#include "app/app.h"

const platform::ClassInfo& App::Class() {
  static const platform::ClassInfo info{
      "App", nullptr, [] { return std::static_pointer_cast<platform::Object>(std::make_shared<class App>()); }};
  return info;
}

std::shared_ptr<class App> App() {
  return platform::RuntimeCheckCast<class App>(platform::getAppObject());
}
