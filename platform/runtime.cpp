#include "platform/runtime.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <typeinfo>

#include "platform/backend.h"
#include "platform/files.h"
#include "platform/quit_signals.h"
#include "platform/runtime_internal.h"
#include "platform/ui.h"

namespace platform::headless {
std::unique_ptr<backend::Backend> MakeBackend();
void ResetForTesting();
}

namespace platform {
namespace {

struct Runtime {
  backend::BackendFactory factory = nullptr;
  std::unique_ptr<backend::Backend> backend;
  std::vector<const ClassInfo*> classes;
  ExceptionHelper helper = nullptr;
  std::shared_ptr<Application> app;
  std::vector<std::shared_ptr<Window>> windows;
  std::shared_ptr<RuntimeException> pending;  // raised by a handler
  std::exception_ptr pending_other;           // anything else a handler raised
  int quit_code = 0;
  bool unhandled = false;
};

Runtime& rt() {
  static Runtime r;
  return r;
}

// The framework's own classes, in their fixed order of registration.
std::vector<std::unique_ptr<ClassInfo>>& FrameworkClasses() {
  static std::vector<std::unique_ptr<ClassInfo>> list = [] {
    std::vector<std::unique_ptr<ClassInfo>> v;
    auto add = [&v](const char* name, const ClassInfo* super) {
      v.push_back(std::make_unique<ClassInfo>(ClassInfo{name, super, nullptr}));
      return v.back().get();
    };
    const ClassInfo* object = add("Object", nullptr);
    add("RuntimeException", object);
    add("Application", object);
    add("Window", object);
    const ClassInfo* control = add("RectControl", object);
    add("Listbox", control);
    add("CheckBox", control);
    const ClassInfo* item = add("MenuItem", object);
    add("QuitMenuItem", item);
    add("MenuBar", item);
    add("FolderItem", object);
    add("TextInputStream", object);
    add("TextOutputStream", object);
    add("RegEx", object);
    add("RegExOptions", object);
    add("RegExMatch", object);
    add("AppleEvent", object);
    return v;
  }();
  return list;
}

void Trampoline(void* arg) { (*static_cast<const std::function<void()>*>(arg))(); }

backend::CallObserver& Observer() {
  static backend::CallObserver observer;
  return observer;
}

}  // namespace

namespace backend {

void SetBackendFactory(BackendFactory factory) { rt().factory = factory; }

Backend& Current() {
  if (!rt().backend) rt().backend = rt().factory ? rt().factory() : headless::MakeBackend();
  return *rt().backend;
}

void SetCallObserver(CallObserver observer) { Observer() = std::move(observer); }

void NoteCall(const std::string& call) {
  if (Observer()) Observer()(call);
}

}  // namespace backend

void RuntimeInit() {
  backend::NoteCall("RuntimeInit");
  // Writing a diagnostic never ends the program: with standard error (or
  // any pipe or socket) closed by its reader, a write fails with EPIPE
  // instead of raising SIGPIPE. Host scripts start with it at its default
  // again.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  // Before the backend: a quit request during start-up waits for the loop.
  detail::InstallQuitSignals();
  backend::Current();
}

int RuntimeExit() {
  backend::NoteCall("RuntimeExit");
  int status = rt().unhandled ? 1 : rt().quit_code;
  rt().windows.clear();
  rt().backend.reset();
  return status;
}

void RuntimeRegisterFrameworkClasses() {
  for (const auto& info : FrameworkClasses()) RuntimeRegisterClass(info.get());
}

void RuntimeRegisterClass(const ClassInfo* info) {
  backend::NoteCall("RuntimeRegisterClass " + info->name);
  auto& classes = rt().classes;
  if (std::find(classes.begin(), classes.end(), info) == classes.end()) classes.push_back(info);
}

const ClassInfo* RuntimeFindClass(const std::string& name) {
  for (const ClassInfo* info : rt().classes)
    if (info->name == name) return info;
  return nullptr;
}

std::vector<std::string> RuntimeRegisteredClassNames() {
  std::vector<std::string> names;
  for (const ClassInfo* info : rt().classes) names.push_back(info->name);
  return names;
}

void RuntimeSetExceptionHelper(ExceptionHelper helper) {
  backend::NoteCall("RuntimeSetExceptionHelper");
  rt().helper = helper;
}

void RunFrameworkInitialization(void (*start_routine)()) {
  backend::NoteCall("RunFrameworkInitialization");
  // The framework's own set-up needs nothing more here; the start routine
  // runs once, on this thread, and what it raises goes to the caller.
  start_routine();
}

void RuntimeInitExternalClasses() { backend::NoteCall("RuntimeInitExternalClasses"); }

std::shared_ptr<Object> RuntimeNewObject(const ClassInfo& info) {
  backend::NoteCall("RuntimeNewObject " + info.name);
  if (!info.make) throw RuntimeException("class " + info.name + " cannot be instantiated");
  std::shared_ptr<Object> object = info.make();
  if (auto window = std::dynamic_pointer_cast<Window>(object)) window->SetClassName(info.name);
  return object;
}

void RuntimeRegisterAppObject(std::shared_ptr<Application> app) {
  backend::NoteCall("RuntimeRegisterAppObject");
  rt().app = std::move(app);
}

std::shared_ptr<Application> getAppObject() { return rt().app; }

void RuntimeRun() {
  backend::NoteCall("RuntimeRun");
  backend::Current().Run();
  backend::NoteCall("RuntimeRun returns");
  if (auto pending = std::move(rt().pending)) {
    rt().pending = nullptr;
    pending->Raise();
  }
  if (auto other = rt().pending_other) {
    rt().pending_other = nullptr;
    std::rethrow_exception(other);
  }
}

void RuntimeDispatch(const std::function<void()>& handler) {
  // Once a handler has failed the loop is ending: nothing more runs.
  if (rt().pending || rt().pending_other) return;
  try {
    std::shared_ptr<RuntimeException> caught;
    if (rt().helper) {
      caught = rt().helper(&Trampoline, const_cast<std::function<void()>*>(&handler));
    } else {
      try {
        handler();
      } catch (const RuntimeException& e) {
        caught = e.Clone();
      }
    }
    if (caught) {
      rt().pending = std::move(caught);
      backend::Current().RequestQuit();
    }
  } catch (...) {
    rt().pending_other = std::current_exception();
    backend::Current().RequestQuit();
  }
}

void RuntimeUnhandledException(std::exception_ptr error) {
  rt().unhandled = true;
  std::string name = "exception", message;
  try {
    if (error) std::rethrow_exception(error);
  } catch (const RuntimeException& e) {
    name = e.ClassName();
    message = e.Message();
  } catch (const std::exception& e) {
    name = typeid(e).name();
    message = e.what();
  } catch (...) {
  }
  std::fprintf(stderr, "Unhandled %s: %s\n", name.c_str(), message.c_str());
  std::fflush(stderr);
  backend::NoteCall("RuntimeUnhandledException");
}

void RuntimeFinalizeModules() {
  backend::NoteCall("RuntimeFinalizeModules");
  rt().windows.clear();
  rt().app.reset();
  rt().pending = nullptr;
  rt().pending_other = nullptr;
}

void Quit(int code) {
  rt().quit_code = code;
  backend::Current().RequestQuit();
}

void RuntimeQuitAction() {
  for (const auto& window : detail::OpenWindows())
    if (!window->UserClose()) return;  // a window refused: no quit
  Quit(rt().quit_code);
}

void RuntimeResetForTesting() {
  rt().windows.clear();
  rt().app.reset();
  rt().classes.clear();
  rt().helper = nullptr;
  rt().pending = nullptr;
  rt().pending_other = nullptr;
  rt().quit_code = 0;
  rt().unhandled = false;
  rt().backend.reset();
  headless::ResetForTesting();
  detail::ResetQuitSignalsForTesting();
}

void Application::MenuBar(std::shared_ptr<platform::MenuBar> bar) {
  backend::NoteCall("Application.MenuBar");
  menu_bar_ = std::move(bar);
}

std::shared_ptr<FolderItem> Application::ExecutableFile() const {
  return std::make_shared<FolderItem>(ExecutablePath());
}

namespace detail {

void KeepWindow(const std::shared_ptr<Window>& window) { rt().windows.push_back(window); }

void ReleaseWindow(const Window* window) {
  auto& w = rt().windows;
  w.erase(std::remove_if(w.begin(), w.end(), [window](const auto& p) { return p.get() == window; }),
          w.end());
}

std::vector<std::shared_ptr<Window>> OpenWindows() { return rt().windows; }

}  // namespace detail

std::shared_ptr<Window> RuntimeGetImplicitWindow(const std::string& class_name) {
  for (const auto& window : rt().windows)
    if (window->ClassName() == class_name) return window;
  return nullptr;
}

std::shared_ptr<Window> GetImplicitWindow(const std::string& class_name) {
  return RuntimeGetImplicitWindow(class_name);
}

void MsgBox(const std::string& message) { backend::Current().MsgBox(message); }

BusyCursor::BusyCursor() { backend::Current().SetBusyCursor(true); }
BusyCursor::~BusyCursor() { backend::Current().SetBusyCursor(false); }

}  // namespace platform
