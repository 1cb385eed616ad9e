// The stand-in host's document: pieces of text with the styles applied to
// them through the three host scripts.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

// Code points of a UTF-8 text; each invalid byte becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view bytes);
std::string EncodeUtf8(std::u32string_view text);

// Character styles of one character, the earliest first; the last one is
// the one on top.
using StyleStack = std::vector<std::string>;

struct Piece {
  std::string address1, address2;
  std::u32string text;                   // paragraphs separated by CR
  std::vector<size_t> paragraph_starts;  // index in `text` of each paragraph
  std::vector<std::string> paragraph_styles;  // "" = none
  std::vector<StyleStack> char_styles;        // one per character of `text`

  size_t ParagraphCount() const { return paragraph_starts.size(); }
  // [first, last) of paragraph i (from 0); a paragraph owns the CR that ends it.
  std::pair<size_t, size_t> ParagraphSpan(size_t i) const;
};

// What a host script answers: `ok` false when the request was refused (and
// nothing changed); `text` is the script's result or the reason.
struct Reply {
  bool ok = true;
  std::string text;
};

class Document {
 public:
  // Parses the document file format (see README.md). False, with a message
  // naming the line, when the file does not follow it.
  static bool Parse(std::string_view file_bytes, Document* out, std::string* error);
  static bool Load(const std::string& path, Document* out, std::string* error);

  // The host content: "<address 1>/<address 2>:<text>" per piece, joined by
  // "<t@ke>".
  std::string Contents() const;

  // starts / ends / list are the program's number lists ("3,10," or "").
  // flag "1" clears overrides. All of a request is checked before anything
  // changes: a refused request changes nothing.
  Reply ApplyCharacterStyle(std::string_view starts, std::string_view ends,
                            const std::string& style, std::string_view address1,
                            std::string_view address2, std::string_view flag);
  Reply ApplyParagraphStyle(std::string_view list, const std::string& style,
                            std::string_view address1, std::string_view address2,
                            std::string_view flag);

  // Dispatches a script by name ("getcontents", "applyCS", "applyPS") with
  // its arguments, checking their number.
  Reply Run(std::string_view script, const std::vector<std::string>& args);

  // The saved form of the styled document (see README.md): exact, one
  // line per piece, paragraph and styled run.
  std::string Saved() const;
  // Writes Saved() through a temporary file renamed over `path`, so an old
  // save is never left half-written.
  bool Save(const std::string& path, std::string* error) const;

  const std::vector<Piece>& Pieces() const { return pieces_; }
  // Style names in the order they were first applied.
  const std::vector<std::string>& CharacterStyleNames() const { return char_names_; }
  const std::vector<std::string>& ParagraphStyleNames() const { return para_names_; }

 private:
  Piece* Find(std::string_view address1, std::string_view address2);
  static void Remember(std::vector<std::string>* names, const std::string& name);

  std::vector<Piece> pieces_;
  std::map<std::pair<std::string, std::string>, size_t> index_;
  std::vector<std::string> char_names_, para_names_;
};

// A text quoted for the saved form: "..." with \\, \", \r, \n, \t and \xHH
// for other control characters.
std::string Quote(std::string_view utf8);

}  // namespace standin
