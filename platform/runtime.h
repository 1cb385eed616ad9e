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
uint64_t RuntimeBackgroundTaskCount();

// Plug-in entry points, bound by name.
using PluginEntry = void (*)();
// A table of `count` empty places that stays valid for the process's life.
PluginEntry* RuntimeAllocatePluginEntrypointsTable(int count);
// The entry point of that name, or nullptr when no linked component has one.
PluginEntry RuntimeLookupPluginEntrypoint(const std::string& name);

}  // namespace platform
