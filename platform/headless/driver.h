// The headless backend's test driver. Tests act on the models directly
// (Window::UserClose, Listbox::UserClickCell, ...) or queue actions for the
// event loop, which runs them in order and returns when the application
// quits or nothing is left to do, so a test never hangs on the loop. A quit
// signal that has arrived is taken before the next action (and before the
// first), by the quit item's road.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform::headless {

// Queues an action for RuntimeRun; each runs as an event, through the
// exception helper.
void Post(std::function<void()> action);
// The texts MsgBox showed, oldest first.
const std::vector<std::string>& Messages();
void ClearMessages();
// Each change of the cursor, oldest first: true for the busy cursor, false
// for the usual one again.
const std::vector<bool>& BusyCursorChanges();
void ClearBusyCursorChanges();
// Whether the event loop was asked to quit, and how many windows the
// backend has shown and not destroyed.
bool QuitRequested();
int LiveWindows();

// Follows the framework's calls of note as they happen ("RuntimeInit",
// "RuntimeRegisterClass App", "Window event Open", "RuntimeRun",
// "MenuBar released", ...). An observer that raises makes that call fail
// with what it raised. Reset by RuntimeResetForTesting; an empty observer
// stops following.
void ObserveFrameworkCalls(std::function<void(const std::string&)> observer);

}  // namespace platform::headless
