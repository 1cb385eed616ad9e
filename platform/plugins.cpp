// The background-task hook and the binding of plug-in entry points by name.
#include <memory>
#include <string_view>
#include <vector>

#include "platform/backend.h"
#include "platform/regex_component.h"
#include "platform/runtime.h"

namespace platform {

namespace {

uint64_t gBackgroundTaskCount = 0;

// Every table handed out, kept reachable for the life of the process (the
// bound RegEx classes may be used until its very end, so none is freed).
std::vector<std::unique_ptr<PluginEntry[]>>& Tables() {
  static auto* tables = new std::vector<std::unique_ptr<PluginEntry[]>>;
  return *tables;
}

}  // namespace

void RuntimeBackgroundTask() { ++gBackgroundTaskCount; }

void RuntimeBackgroundTaskPasses(uint64_t passes) { gBackgroundTaskCount += passes; }

uint64_t RuntimeBackgroundTaskCount() { return gBackgroundTaskCount; }

PluginEntry* RuntimeAllocatePluginEntrypointsTable(int count) {
  backend::NoteCall("RuntimeAllocatePluginEntrypointsTable " + std::to_string(count));
  const size_t places = count > 0 ? static_cast<size_t>(count) : 1;
  Tables().push_back(std::make_unique<PluginEntry[]>(places));  // value-initialised: empty
  return Tables().back().get();
}

PluginEntry RuntimeLookupPluginEntrypoint(const std::string& name) {
  backend::NoteCall("RuntimeLookupPluginEntrypoint " + name);
  // The pattern component is the one plug-in linked in.
  const auto* entries = regex_component::kPcre2Entrypoints;
  for (int i = 0; i < regex_component::kPcre2EntrypointCount; ++i)
    if (std::string_view(entries[i].name) == name) return entries[i].entry;
  return nullptr;
}

}  // namespace platform
