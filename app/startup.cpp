#include "app/startup.h"

#include "app/app.h"
#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/regex_binding.h"
#include "platform/runtime.h"

using namespace platform;

std::shared_ptr<RuntimeException> CallFunctionWithExceptionHandling(void (*fn)(void*), void* arg) {
  try {
    fn(arg);
  } catch (const RuntimeException& e) {
    return e.Clone();
  }
  return nullptr;
}

void InitFileTypes() {}

void NewAppInstance() {
  auto app = RuntimeCheckCast<class App>(RuntimeNewObject(App::Class()));
  Deref(app, "application object").Constructor();
  // The menu bar first: the application is registered only once furnished.
  app->MenuBar(::MenuBar1());
  RuntimeRegisterAppObject(app);
}

void ApplicationAddMenuHandlers() {}

void MakeDefaultView() { ::Window1(); }

void Startup() {
  RuntimeInitExternalClasses();
  BindRegExComponent();
  InitFileTypes();
  NewAppInstance();
  ApplicationAddMenuHandlers();
  MakeDefaultView();
}

int Main() {
  try {
    RuntimeSetExceptionHelper(&CallFunctionWithExceptionHandling);
    RunFrameworkInitialization(&Startup);
    RuntimeRun();
  } catch (...) {
    RuntimeUnhandledException(std::current_exception());
  }
  return 0;
}

void initialize() {
  RuntimeRegisterFrameworkClasses();
  RuntimeRegisterClass(&App::Class());
  RuntimeRegisterClass(&Window1::Class());
  RuntimeRegisterClass(&MenuBar1::Class());
}

void finalize() {
  RuntimeFinalizeModules();
  MenuBar1::implicitInstance.reset();
}

int ProgramMain() {
  RuntimeInit();
  initialize();
  Main();
  finalize();
  return RuntimeExit();
}
