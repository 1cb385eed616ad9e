#include "host/host_scripts.h"
#include "platform/scripting.h"
#include "platform/ui.h"

namespace host {

void CheckHost() {
  auto event = platform::NewAppleEvent("misc", "actv", "ART5");
  if (!platform::Deref(event, "Apple event").Send()) platform::MsgBox(kStartHostMessage);
}

}  // namespace host
