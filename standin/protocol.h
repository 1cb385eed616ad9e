// What travels over the stand-in host's socket.
//
// An Apple event is one line "<class> <id>" answered by one line ("ok" for
// the activate event "misc actv"). A host script request is the line
// "script <name> <count>" followed, for each argument, by its length in
// bytes on a line of its own and then exactly that many bytes, so that an
// argument may hold any byte at all. The answer is "ok <length>" or
// "refused <length>" on a line, then that many bytes of text. The host closes
// the connection after each answer: one request per connection.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// The socket's name inside the event folder: the host's signature.
inline constexpr const char* kSignature = "ART5";

// Bounds that keep a broken or hostile client from making the host hold
// unbounded memory.
inline constexpr size_t kMaxArguments = 16;
inline constexpr size_t kMaxRequestBytes = size_t{256} << 20;
inline constexpr size_t kMaxLineBytes = 256;

struct Request {
  bool is_event = false;
  std::string event_class, event_id;       // an Apple event
  std::string script;                      // a host script
  std::vector<std::string> args;
};

std::string EncodeScriptRequest(std::string_view script, const std::vector<std::string>& args);
std::string EncodeScriptReply(bool ok, std::string_view text);

// Takes a request as its bytes arrive, in pieces of any size; each byte is
// looked at a bounded number of times, however the request is cut.
class RequestParser {
 public:
  enum Status { kNeedMore, kDone, kBad };
  Status Feed(std::string_view data);
  // After kDone.
  const Request& request() const { return request_; }
  // After kBad.
  const std::string& error() const { return error_; }

 private:
  Status Advance();
  Status Bad(std::string why);
  bool TakeLine(std::string* line);

  enum Stage { kFirstLine, kArgumentLength, kArgumentBytes, kFinished };
  std::string buf_;
  size_t pos_ = 0;
  Stage stage_ = kFirstLine;
  size_t argc_ = 0, arg_length_ = 0, total_ = 0;
  Request request_;
  std::string error_;
  Status status_ = kNeedMore;
};

// Parses a whole answer, as the client has it after the host closed the
// connection. False when it is not one well-formed answer.
bool ParseScriptReply(std::string_view bytes, bool* ok, std::string* text);

}  // namespace standin
