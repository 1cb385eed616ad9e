// The framework's runtime: the background-task hook, the plug-in entry-point
// table, and (with the application shell) start-up, classes and the event
// loop.
#pragma once

#include <cstdint>
#include <string>

#include "platform/object.h"

namespace platform {

// The background-task hook that every loop of the program calls once per
// pass. It never dispatches input events, so nothing can start a second
// styling run inside a run; it only counts its calls.
void RuntimeBackgroundTask();
// The hook for `passes` passes of a loop at once, exactly as many calls of
// RuntimeBackgroundTask; for tight loops whose passes cost less than a call.
void RuntimeBackgroundTaskPasses(uint64_t passes);
uint64_t RuntimeBackgroundTaskCount();

// Plug-in entry points, bound by name.
using PluginEntry = void (*)();
// A table of `count` empty places that stays valid for the process's life.
PluginEntry* RuntimeAllocatePluginEntrypointsTable(int count);
// The entry point of that name, or nullptr when no linked component has one.
PluginEntry RuntimeLookupPluginEntrypoint(const std::string& name);

}  // namespace platform

// ---------------------------------------------------------------------------
// Classes, start-up and the event loop.

#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class Application;
class FolderItem;

// A registered class: its full name, its base and how to make an instance.
struct ClassInfo {
  std::string name;
  const ClassInfo* super = nullptr;
  std::function<std::shared_ptr<Object>()> make;
};

// The framework's start and end. RuntimeInit brings up the backend chosen at
// link time (the built-in headless one unless the Qt backend is linked in),
// and sets SIGPIPE to be ignored: a write to a closed pipe, standard error
// among them, fails instead of ending the program. From then on the
// system's requests to end the program (SIGTERM, SIGHUP, SIGINT) reach the
// event loop, which takes the quit item's road (RuntimeQuitAction) once, as
// soon as it runs; a host script running then is ended and no other one
// starts.
void RuntimeInit();
int RuntimeExit();  // 0 after a normal quit (or the code given to Quit), 1
                    // after an unhandled exception

// Class registration: the framework registers its own classes in a fixed
// order; the program adds its classes after them.
void RuntimeRegisterFrameworkClasses();
void RuntimeRegisterClass(const ClassInfo* info);
const ClassInfo* RuntimeFindClass(const std::string& name);
std::vector<std::string> RuntimeRegisteredClassNames();

// The exception-catching call routine the program hands the framework. The
// framework calls every event handler through it, so that an exception out
// of a handler ends the event loop and reaches the program's top-level
// handler instead of unwinding through the toolkit.
using ExceptionHelper = std::shared_ptr<RuntimeException> (*)(void (*fn)(void*), void* arg);
void RuntimeSetExceptionHelper(ExceptionHelper helper);

// Lets the framework initialise itself; it calls the start routine once.
void RunFrameworkInitialization(void (*start_routine)());
void RuntimeInitExternalClasses();

// A new instance of a registered class (its constructor not yet run).
std::shared_ptr<Object> RuntimeNewObject(const ClassInfo& info);
// The object as an instance of T when it is one, else nullptr.
template <class T>
std::shared_ptr<T> RuntimeCheckCast(const std::shared_ptr<Object>& object) {
  return std::dynamic_pointer_cast<T>(object);
}

void RuntimeRegisterAppObject(std::shared_ptr<Application> app);
std::shared_ptr<Application> getAppObject();

// Runs the event loop until the application quits. An exception raised by a
// handler ends the loop and is raised again from here.
void RuntimeRun();
// The framework's handling of an exception that nothing else caught: writes
// "Unhandled <class name>: <message>" to standard error.
void RuntimeUnhandledException(std::exception_ptr error);
// Releases the objects the framework's modules hold (application object,
// windows, registries).
void RuntimeFinalizeModules();

// Asks the application to quit: the event loop ends after the current event.
void Quit(int code = 0);
// The quit item's action: closes every window (each close handler runs),
// then quits.
void RuntimeQuitAction();

// Runs one event handler the way the event loop does: through the exception
// helper; an exception ends the loop and is kept for RuntimeRun to raise.
void RuntimeDispatch(const std::function<void()>& handler);

// Test support: forget everything the runtime holds, so that a test can run
// a whole start-up again in the same process.
void RuntimeResetForTesting();

class MenuBar;

// The application class.
class Application : public Object {
 public:
  const std::shared_ptr<platform::MenuBar>& MenuBar() const { return menu_bar_; }
  void MenuBar(std::shared_ptr<platform::MenuBar> bar);
  // The running program's executable.
  std::shared_ptr<FolderItem> ExecutableFile() const;

 private:
  std::shared_ptr<platform::MenuBar> menu_bar_;
};

}  // namespace platform
