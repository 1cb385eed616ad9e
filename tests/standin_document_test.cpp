// The stand-in host's document, its answers and its wire format, without
// any process or socket.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "standin/document.h"
#include "standin/host.h"
#include "standin/protocol.h"

namespace standin {
namespace {

Document Load(const std::string& text) {
  Document doc;
  std::string error;
  EXPECT_TRUE(Document::Parse(text, &doc, &error)) << error;
  return doc;
}

// Two pieces: one Japanese of two paragraphs, one English.
const char kDoc[] =
    "# comment\n"
    "\n"
    "=== 1/1\n"
    "第1章 日本語\n"
    "価格は1,280円\n"
    "=== 1/2\n"
    "abc\n";

TEST(StandinDocumentTest, LoadsPiecesIntoTheContentFormat) {
  struct Case {
    const char* name;
    std::string file;
    std::string contents;
  };
  const std::vector<Case> cases = {
      {"two pieces", kDoc, "1/1:第1章 日本語\r価格は1,280円<t@ke>1/2:abc"},
      {"blank lines inside kept, trailing ones dropped", "=== a/b\nx\n\ny\n\n\n=== c/d\nz",
       "a/b:x\r\ry<t@ke>c/d:z"},
      {"a piece without lines has one empty paragraph", "=== a/b\n=== c/d\n\n", "a/b:<t@ke>c/d:"},
      {"CRLF, lone CR and a byte-order mark", "\xEF\xBB\xBF=== 1/1\r\nx\ry\r\n", "1/1:x\ry"},
      {"colons in the text stay, empty addresses allowed", "=== /\nNote: a:b\n", "/:Note: a:b"},
      {"invalid UTF-8 becomes U+FFFD", "=== 1/1\na\xFF" "b\n", "1/1:a\xEF\xBF\xBD" "b"},
      {"no pieces at all", "# nothing\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Document doc = Load(c.file);
    EXPECT_EQ(doc.Contents(), c.contents);
  }
  // Character counts are in code points, the CR separators included.
  Document doc = Load(kDoc);
  EXPECT_EQ(doc.Pieces()[0].text.size(), 7u + 1u + 9u);
  EXPECT_EQ(doc.Pieces()[0].ParagraphCount(), 2u);
}

TEST(StandinDocumentTest, RefusesFilesThatBreakTheFormatNamingTheLine) {
  struct Case {
    std::string file;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"text first\n=== 1/1\n", "line 1:"},
      {"=== 11\n", "line 1:"},
      {"\n=== 1/1/1\n", "line 2:"},
      {"=== 1:x/1\n", "line 1:"},
      {"=== 1/1\na\n=== 1/1\n", "line 3:"},
      {"=== 1/1\na<t@ke>b\n", "line 2:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Document doc;
    std::string error;
    EXPECT_FALSE(Document::Parse(c.file, &doc, &error));
    EXPECT_EQ(error.rfind(c.line, 0), 0u) << error;
  }
}

TEST(StandinDocumentTest, SavedFormIsExact) {
  Document doc = Load("=== 1/1\nab\"c\n\nd\n=== x/y\n");
  ASSERT_TRUE(doc.ApplyParagraphStyle("1,", "見出し", "1", "1", "0").ok);
  // Covers the CR that ends paragraph 1 and the empty paragraph 2.
  ASSERT_TRUE(doc.ApplyCharacterStyle("3,", "6,", "A", "1", "1", "0").ok);
  ASSERT_TRUE(doc.ApplyCharacterStyle("4,", "4,", "B", "1", "1", "0").ok);
  EXPECT_EQ(doc.Saved(),
            "# stand-in host: styled document\n"
            "piece \"1\" \"1\"\n"
            "  paragraph 1 style \"見出し\" text \"ab\\\"c\"\n"
            "    chars 3-3 \"\\\"\" styles \"A\"\n"
            "    chars 4-4 \"c\" styles \"A\" \"B\"\n"
            "    chars 5-5 \"\\r\" styles \"A\"\n"
            "  paragraph 2 style - text \"\"\n"
            "    chars 6-6 \"\\r\" styles \"A\"\n"
            "  paragraph 3 style - text \"d\"\n"
            "piece \"x\" \"y\"\n"
            "  paragraph 1 style - text \"\"\n");
}

// The style stack of one character (from 1) of a piece.
StyleStack At(const Document& doc, size_t piece, size_t pos) {
  return doc.Pieces()[piece].char_styles[pos - 1];
}

TEST(StandinDocumentTest, CharacterStylesLayerOrReplaceByTheFlag) {
  Document doc = Load(kDoc);
  // "日本語" is characters 5 to 7 of piece 1/1, whatever its bytes.
  ASSERT_TRUE(doc.ApplyCharacterStyle("5,", "7,", "赤", "1", "1", "0").ok);
  ASSERT_TRUE(doc.ApplyCharacterStyle("6,", "6,", "太字", "1", "1", "0").ok);
  EXPECT_EQ(At(doc, 0, 4), StyleStack{});
  EXPECT_EQ(At(doc, 0, 5), StyleStack{"赤"});
  EXPECT_EQ(At(doc, 0, 6), (StyleStack{"赤", "太字"}));
  EXPECT_EQ(At(doc, 0, 8), StyleStack{});

  // Laying a style on again brings it to the top rather than doubling it.
  ASSERT_TRUE(doc.ApplyCharacterStyle("6,", "6,", "赤", "1", "1", "0").ok);
  EXPECT_EQ(At(doc, 0, 6), (StyleStack{"太字", "赤"}));

  // Clearing overrides: the new style alone, and only on its range.
  ASSERT_TRUE(doc.ApplyCharacterStyle("6,", "7,", "青", "1", "1", "1").ok);
  EXPECT_EQ(At(doc, 0, 5), StyleStack{"赤"});
  EXPECT_EQ(At(doc, 0, 6), StyleStack{"青"});
  EXPECT_EQ(At(doc, 0, 7), StyleStack{"青"});

  // Several ranges in one request, the last one up to the last character.
  ASSERT_TRUE(doc.ApplyCharacterStyle("1,3,", "1,3,", "x", "1", "2", "0").ok);
  EXPECT_EQ(At(doc, 1, 1), StyleStack{"x"});
  EXPECT_EQ(At(doc, 1, 2), StyleStack{});
  EXPECT_EQ(At(doc, 1, 3), StyleStack{"x"});
}

TEST(StandinDocumentTest, EmptyListsAndEmptyMatchesChangeNothing) {
  Document doc = Load(kDoc);
  const std::string before = doc.Saved();
  // Empty lists; empty matches (end = start - 1) at the start, inside and
  // just past the last character (piece 1/2 has 3).
  EXPECT_TRUE(doc.ApplyCharacterStyle("", "", "s", "1", "2", "1").ok);
  EXPECT_TRUE(doc.ApplyCharacterStyle("1,2,4,", "0,1,3,", "s", "1", "2", "1").ok);
  EXPECT_TRUE(doc.ApplyParagraphStyle("", "p", "1", "1", "1").ok);
  EXPECT_EQ(doc.Saved(), before);
  EXPECT_TRUE(doc.CharacterStyleNames().empty());
  EXPECT_TRUE(doc.ParagraphStyleNames().empty());
}

TEST(StandinDocumentTest, ParagraphStyleClearsCharacterStylesOnlyWithTheFlag) {
  Document doc = Load(kDoc);
  // Characters 1 to 9 span paragraph 1 (1-7), its CR (8) and one character
  // of paragraph 2.
  ASSERT_TRUE(doc.ApplyCharacterStyle("1,", "9,", "c", "1", "1", "0").ok);

  ASSERT_TRUE(doc.ApplyParagraphStyle("1,", "P1", "1", "1", "0").ok);
  EXPECT_EQ(doc.Pieces()[0].paragraph_styles[0], "P1");
  EXPECT_EQ(At(doc, 0, 1), StyleStack{"c"});

  // The later paragraph style replaces the earlier; with the flag it also
  // clears the paragraph's character styles, its own CR included.
  ASSERT_TRUE(doc.ApplyParagraphStyle("1,1,", "P2", "1", "1", "1").ok);
  EXPECT_EQ(doc.Pieces()[0].paragraph_styles[0], "P2");
  EXPECT_EQ(doc.Pieces()[0].paragraph_styles[1], "");
  EXPECT_EQ(At(doc, 0, 1), StyleStack{});
  EXPECT_EQ(At(doc, 0, 8), StyleStack{});
  EXPECT_EQ(At(doc, 0, 9), StyleStack{"c"});
}

TEST(StandinDocumentTest, MalformedRequestsAreRefusedAndChangeNothing) {
  struct Case {
    const char* script;
    std::vector<std::string> args;
    const char* why;  // a part of the message
  };
  // Piece 1/1 has 17 characters in 2 paragraphs.
  const std::vector<Case> cases = {
      {"applyCS", {"1,", "1,2,", "s", "1", "1", "0"}, "1 starts but 2 ends"},
      {"applyCS", {"0,", "1,", "s", "1", "1", "0"}, "outside"},
      {"applyCS", {"1,", "18,", "s", "1", "1", "0"}, "outside"},
      {"applyCS", {"19,", "18,", "s", "1", "1", "0"}, "outside"},
      {"applyCS", {"5,", "3,", "s", "1", "1", "0"}, "outside"},
      {"applyCS", {"99999999999999999999,", "1,", "s", "1", "1", "0"}, "outside"},
      {"applyCS", {"1,a,", "1,2,", "s", "1", "1", "0"}, "starts"},
      {"applyCS", {"1", "1", "s", "1", "1", "0"}, "starts"},
      {"applyCS", {" 1,", "1,", "s", "1", "1", "0"}, "starts"},
      {"applyCS", {"1,", "-1,", "s", "1", "1", "0"}, "ends"},
      {"applyCS", {"1,", "1,", "s", "9", "9", "0"}, "no piece"},
      {"applyCS", {"1,", "1,", "s", "1/1", "", "0"}, "no piece"},
      {"applyCS", {"1,", "1,", "s", "1", "1", "true"}, "flag"},
      {"applyCS", {"1,", "1,", "", "1", "1", "0"}, "style name is empty"},
      {"applyCS", {"1,", "1,", "s", "1", "1"}, "takes 6 arguments, not 5"},
      {"applyPS", {"3,", "p", "1", "1", "0"}, "paragraph 3"},
      {"applyPS", {"0,", "p", "1", "1", "0"}, "paragraph 0"},
      {"applyPS", {"1,,", "p", "1", "1", "0"}, "paragraph list"},
      {"applyPS", {"1,", "p", "1", "x", "0"}, "no piece"},
      {"applyPS", {"1,", "p", "1", "1", "0", "extra"}, "takes 5 arguments, not 6"},
      {"getcontents", {""}, "takes 0 arguments, not 1"},
      {"applyXY", {}, "no host script"},
  };
  Document doc = Load(kDoc);
  ASSERT_TRUE(doc.ApplyCharacterStyle("2,", "3,", "old", "1", "1", "0").ok);
  const std::string before = doc.Saved();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.script) + " " + (c.args.empty() ? "" : c.args[0]));
    const Reply r = doc.Run(c.script, c.args);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.text.find(c.why), std::string::npos) << r.text;
    EXPECT_EQ(doc.Saved(), before);
  }
  // A request whose first range is sound and second is not applies neither.
  EXPECT_FALSE(doc.ApplyCharacterStyle("1,17,", "1,18,", "s", "1", "1", "1").ok);
  EXPECT_EQ(doc.Saved(), before);
}

TEST(StandinProtocolTest, RequestsCarryAnyBytesHoweverTheyArrive) {
  const std::vector<std::string> args = {"", "a\nb", "tab\there", "\"quoted\"", "日本語\r\n",
                                         std::string("nul\0byte", 8), "12\n"};
  const std::string wire = EncodeScriptRequest("applyCS", args);
  for (size_t piece : {wire.size(), size_t{1}, size_t{3}}) {
    SCOPED_TRACE(piece);
    RequestParser parser;
    RequestParser::Status status = RequestParser::kNeedMore;
    for (size_t i = 0; i < wire.size(); i += piece) {
      ASSERT_EQ(status, RequestParser::kNeedMore);
      status = parser.Feed(std::string_view(wire).substr(i, piece));
    }
    ASSERT_EQ(status, RequestParser::kDone);
    EXPECT_FALSE(parser.request().is_event);
    EXPECT_EQ(parser.request().script, "applyCS");
    EXPECT_EQ(parser.request().args, args);
  }

  RequestParser none;
  ASSERT_EQ(none.Feed(EncodeScriptRequest("getcontents", {})), RequestParser::kDone);
  EXPECT_TRUE(none.request().args.empty());

  RequestParser event;
  EXPECT_EQ(event.Feed("misc "), RequestParser::kNeedMore);
  ASSERT_EQ(event.Feed("actv\n"), RequestParser::kDone);
  EXPECT_TRUE(event.request().is_event);
  EXPECT_EQ(event.request().event_class, "misc");
  EXPECT_EQ(event.request().event_id, "actv");
}

TEST(StandinProtocolTest, MalformedFramesAreRejected) {
  const std::vector<std::string> bad = {
      "misc\n",
      "misc actv extra\n",
      "script applyCS\n",
      "script applyCS x\n",
      "script applyCS 1\nabc\n",
      "script applyCS 99\n",
      "script applyCS 1\n" + std::to_string(kMaxRequestBytes + 1) + "\n",
      std::string(kMaxLineBytes + 2, 'x'),
  };
  for (const std::string& frame : bad) {
    SCOPED_TRACE(frame.substr(0, 40));
    RequestParser parser;
    EXPECT_EQ(parser.Feed(frame), RequestParser::kBad);
    EXPECT_FALSE(parser.error().empty());
  }
}

TEST(StandinProtocolTest, RepliesRoundTripAndTruncationIsCaught) {
  bool ok = false;
  std::string text;
  ASSERT_TRUE(ParseScriptReply(EncodeScriptReply(true, "1/1:a\rb\n"), &ok, &text));
  EXPECT_TRUE(ok);
  EXPECT_EQ(text, "1/1:a\rb\n");
  ASSERT_TRUE(ParseScriptReply(EncodeScriptReply(false, ""), &ok, &text));
  EXPECT_FALSE(ok);
  EXPECT_EQ(text, "");
  const std::string whole = EncodeScriptReply(true, "abc");
  EXPECT_FALSE(ParseScriptReply(whole.substr(0, whole.size() - 1), &ok, &text));
  EXPECT_FALSE(ParseScriptReply(whole + "x", &ok, &text));
  EXPECT_FALSE(ParseScriptReply("okay 3\nabc", &ok, &text));
}

TEST(StandinHostTest, AnswersEventsAndScriptsAndReportsRefusals) {
  std::ostringstream out, err;
  Host host(Load(kDoc), "", false, out, err);
  Request activate;
  activate.is_event = true;
  activate.event_class = "misc";
  activate.event_id = "actv";
  EXPECT_EQ(host.Handle(activate), "ok\n");
  activate.event_id = "quit";
  EXPECT_NE(host.Handle(activate), "ok\n");

  Request get;
  get.script = "getcontents";
  EXPECT_EQ(host.Handle(get), EncodeScriptReply(true, host.document().Contents()));
  EXPECT_EQ(out.str(), "");  // fetching changes nothing, so nothing is shown

  Request apply;
  apply.script = "applyPS";
  apply.args = {"1,", "H", "1", "2", "0"};
  bool ok = false;
  std::string text;
  ASSERT_TRUE(ParseScriptReply(host.Handle(apply), &ok, &text));
  EXPECT_TRUE(ok);
  EXPECT_NE(out.str().find("paragraph 1 style \"H\" text \"abc\""), std::string::npos);

  apply.args[0] = "2,";
  ASSERT_TRUE(ParseScriptReply(host.Handle(apply), &ok, &text));
  EXPECT_FALSE(ok);
  EXPECT_NE(err.str().find("refused: applyPS: paragraph 2"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("nothing changed"), std::string::npos);
}

}  // namespace
}  // namespace standin
