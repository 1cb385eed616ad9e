// Running the host scripts, and Apple events.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/object.h"

namespace platform {

// Runs a host script with the values as its arguments, in order, and waits
// for it to end. On macOS: /usr/bin/osascript FILE VALUE...; elsewhere FILE
// itself as an executable. No shell is involved, standard input is empty and
// standard error passes through. The result is the standard output less one
// final LF, made valid UTF-8: what the script wrote until it ended, however
// long a process it left behind keeps the output open. The script runs in a
// session of its own (a terminal's job control never stops it), with every
// signal at its default and none blocked. A script that runs for more than
// two minutes, or writes more than 512 MiB, is ended with every process of
// its group. When the script cannot be started, exits non-zero, is killed,
// runs out of time or writes too much, the result is the empty text and one
// line on standard error names the script and what went wrong. An argument
// list cannot carry a NUL byte, so a value ends at its first NUL. Once the
// system has asked the program to quit (see RuntimeInit), a running script is
// ended at once with its group, with such a line, and no further script
// starts: the result is the empty text.
std::string ExecuteAppleScript(const std::shared_ptr<FolderItem>& script,
                               const std::vector<Variant>& values);

// How much the values of one ExecuteAppleScript call can carry: the system
// limits a new program's argument list (on Linux 128 KiB for one argument,
// on macOS about 1 MiB for all of them with the environment), and the
// script's path and the environment take their share. Each value may hold
// at most `per_value` bytes, and the values' ScriptValueCost together may
// come to at most `in_all`; a call beyond that cannot start.
struct ScriptArgumentRoom {
  size_t per_value = 0;
  size_t in_all = 0;
};
ScriptArgumentRoom ScriptArgumentRoomNow();
// What a value of that many bytes takes of the room: its bytes, the NUL
// that ends it and its place in the list.
constexpr size_t ScriptValueCost(size_t bytes) { return bytes + 1 + sizeof(char*); }

class AppleEvent : public Object {
 public:
  AppleEvent(std::string event_class, std::string event_id, std::string target);
  // True when the event reached the target application. Elsewhere than on
  // macOS: connects to <AppleEventFolder()>/<target>, writes the line
  // "<class> <id>", and is true only when the answer "ok" comes within two
  // seconds; false without trying when the folder is not private, and with
  // one line on standard error when the socket's path is too long for a
  // Unix socket (more than 107 bytes); never through a path cut short.
  bool Send();

  const std::string& EventClass() const { return class_; }
  const std::string& EventID() const { return id_; }
  const std::string& Target() const { return target_; }

 private:
  std::string class_, id_, target_;
};

std::shared_ptr<AppleEvent> NewAppleEvent(const std::string& event_class,
                                          const std::string& event_id,
                                          const std::string& target_signature);

// Where applications listen for events: $XDG_RUNTIME_DIR/appleevents, or
// /tmp/appleevents-<uid> when that is unset.
std::string AppleEventFolder();
// Whether events may pass through `folder`: a real folder (not a link to
// one), owned by this user and writable by no one else. Anyone could create
// /tmp/appleevents-<uid> first and listen there; Send sends nothing through
// a folder that fails this test. When it fails, `why` says what is wrong.
bool IsPrivateEventFolder(const std::string& folder, std::string* why = nullptr);

}  // namespace platform
