#include "standin/protocol.h"

#include <charconv>

namespace standin {

namespace {

bool ParseSize(std::string_view s, size_t* out) {
  if (s.empty() || s.size() > 12) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && ptr == s.data() + s.size();
}

}  // namespace

std::string EncodeScriptRequest(std::string_view script, const std::vector<std::string>& args) {
  std::string out = "script " + std::string(script) + " " + std::to_string(args.size()) + "\n";
  for (const std::string& a : args) {
    out += std::to_string(a.size());
    out += '\n';
    out += a;
  }
  return out;
}

std::string EncodeScriptReply(bool ok, std::string_view text) {
  std::string out = (ok ? "ok " : "refused ") + std::to_string(text.size()) + "\n";
  out += text;
  return out;
}

RequestParser::Status RequestParser::Bad(std::string why) {
  error_ = std::move(why);
  stage_ = kFinished;
  return status_ = kBad;
}

bool RequestParser::TakeLine(std::string* line) {
  const size_t nl = buf_.find('\n', pos_);
  if (nl == std::string::npos) return false;
  *line = buf_.substr(pos_, nl - pos_);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  pos_ = nl + 1;
  return true;
}

RequestParser::Status RequestParser::Feed(std::string_view data) {
  if (stage_ == kFinished) return status_;
  // Drop what has been consumed once it outweighs the rest, so the buffer
  // holds at most about twice the unread bytes without moving them often.
  if (pos_ > 0 && pos_ >= buf_.size() - pos_) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(data);
  return Advance();
}

RequestParser::Status RequestParser::Advance() {
  for (;;) {
    switch (stage_) {
      case kFirstLine:
      case kArgumentLength: {
        std::string line;
        if (!TakeLine(&line)) {
          if (buf_.size() - pos_ > kMaxLineBytes) return Bad("a header line is too long");
          return status_ = kNeedMore;
        }
        if (line.size() > kMaxLineBytes) return Bad("a header line is too long");
        if (stage_ == kArgumentLength) {
          if (!ParseSize(line, &arg_length_)) return Bad("an argument length is not a number");
          total_ += arg_length_;
          if (arg_length_ > kMaxRequestBytes || total_ > kMaxRequestBytes)
            return Bad("the request is too large");
          stage_ = kArgumentBytes;
          break;
        }
        if (line.rfind("script ", 0) != 0) {
          const size_t space = line.find(' ');
          if (space == std::string::npos || space == 0 || space + 1 == line.size() ||
              line.find(' ', space + 1) != std::string::npos)
            return Bad("not an event line \"<class> <id>\" nor a script request");
          request_.is_event = true;
          request_.event_class = line.substr(0, space);
          request_.event_id = line.substr(space + 1);
          stage_ = kFinished;
          return status_ = kDone;
        }
        const std::string rest = line.substr(7);
        const size_t space = rest.rfind(' ');
        if (space == std::string::npos || space == 0 || !ParseSize(rest.substr(space + 1), &argc_))
          return Bad("a script request line is not \"script <name> <count>\"");
        if (argc_ > kMaxArguments) return Bad("too many arguments");
        request_.script = rest.substr(0, space);
        stage_ = kArgumentLength;
        if (argc_ == 0) {
          stage_ = kFinished;
          return status_ = kDone;
        }
        break;
      }
      case kArgumentBytes: {
        if (buf_.size() - pos_ < arg_length_) return status_ = kNeedMore;
        request_.args.push_back(buf_.substr(pos_, arg_length_));
        pos_ += arg_length_;
        if (request_.args.size() == argc_) {
          stage_ = kFinished;
          return status_ = kDone;
        }
        stage_ = kArgumentLength;
        break;
      }
      case kFinished:
        return status_;
    }
  }
}

bool ParseScriptReply(std::string_view bytes, bool* ok, std::string* text) {
  const size_t nl = bytes.find('\n');
  if (nl == std::string_view::npos || nl > kMaxLineBytes) return false;
  std::string_view head = bytes.substr(0, nl);
  size_t length = 0;
  if (head.rfind("ok ", 0) == 0) {
    *ok = true;
    head.remove_prefix(3);
  } else if (head.rfind("refused ", 0) == 0) {
    *ok = false;
    head.remove_prefix(8);
  } else {
    return false;
  }
  if (!ParseSize(head, &length) || bytes.size() - nl - 1 != length) return false;
  *text = std::string(bytes.substr(nl + 1));
  return true;
}

}  // namespace standin
