#include "standin/host.h"

namespace standin {

Host::Host(Document doc, std::string save_path, bool quiet, std::ostream& out, std::ostream& err)
    : doc_(std::move(doc)), save_path_(std::move(save_path)), quiet_(quiet), out_(out), err_(err) {}

void Host::Save() {
  if (save_path_.empty()) return;
  std::string error;
  if (!doc_.Save(save_path_, &error)) err_ << "stand-in host: " << error << std::endl;
}

void Host::Render(const std::string& heading) {
  if (quiet_) return;
  out_ << "--- " << heading << " ---\n" << doc_.Saved() << std::flush;
}

std::string Host::Handle(const Request& r) {
  if (r.is_event) {
    if (r.event_class == "misc" && r.event_id == "actv") {
      if (on_activate) on_activate();
      return "ok\n";
    }
    err_ << "stand-in host: unknown event " << Quote(r.event_class + " " + r.event_id) << std::endl;
    return "unknown event\n";
  }
  const Reply reply = doc_.Run(r.script, r.args);
  if (!reply.ok) {
    err_ << "stand-in host: refused: " << reply.text << "; nothing changed" << std::endl;
    if (on_change) on_change("refused: " + reply.text);
  } else if (r.script != "getcontents") {
    Save();
    Render(r.script + ": " + reply.text);
    if (on_change) on_change(r.script + ": " + reply.text);
  }
  return EncodeScriptReply(reply.ok, reply.text);
}

}  // namespace standin
