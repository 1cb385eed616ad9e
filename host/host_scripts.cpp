#include "host/host_scripts.h"

#include "app/app.h"
#include "platform/files.h"
#include "platform/scripting.h"

namespace {

using platform::Deref;

// The script file is found anew on every call, from the executable: its
// folder's folder, then "Resources", then the script's name. Every step but
// the last is checked; the script's own item goes to the runner as it is.
std::string RunHostScript(const char* file_name, const std::vector<platform::Variant>& values) {
  auto app = App();
  auto executable = Deref(app, "application object").ExecutableFile();
  auto macos = Deref(executable, "executable file").Parent();
  auto contents = Deref(macos, "executable's folder").Parent();
  auto resources = Deref(contents, "bundle contents folder").Child("Resources");
  auto script = Deref(resources, "Resources folder").Child(file_name);
  return platform::ExecuteAppleScript(script, values);
}

}  // namespace

std::string getcontents(const std::vector<platform::Variant>& values) {
  return RunHostScript("getcontents.scpt", values);
}

std::string applyCS(const std::vector<platform::Variant>& values) {
  return RunHostScript("applyCS.scpt", values);
}

std::string applyPS(const std::vector<platform::Variant>& values) {
  return RunHostScript("applyPS.scpt", values);
}
