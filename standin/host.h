// The stand-in host's answers to the requests that reach its socket.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "standin/document.h"
#include "standin/protocol.h"

namespace standin {

class Host {
 public:
  // `out` gets the plain-text rendering after each change (unless quiet);
  // `err` the refusals and failures.
  Host(Document doc, std::string save_path, bool quiet, std::ostream& out, std::ostream& err);

  // One request in, the bytes of its answer out. A script's request that is
  // refused changes nothing and is still answered.
  std::string Handle(const Request& request);

  // Saves to the --save file, when one was given; a failure is reported
  // and the host goes on.
  void Save();
  // Writes the rendering with a heading line.
  void Render(const std::string& heading);

  const Document& document() const { return doc_; }

  std::function<void(const std::string& message)> on_change;  // after a change or refusal
  std::function<void()> on_activate;

 private:
  Document doc_;
  std::string save_path_;
  bool quiet_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace standin
