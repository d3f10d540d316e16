#include "FileHandler/ParseTools.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kestrane::FileTools;
using kestrane::Statement;

std::vector<std::string> Tokens(const std::string &text) {
  FileTools tools;
  std::istringstream in(text);
  std::vector<std::string> tokens;
  for (std::string t = tools.ReadToken(in); !t.empty(); t = tools.ReadToken(in))
    tokens.push_back(t);
  return tokens;
}

// Statements as short texts: "K name", "K name open", "A key=value", "T text", "E".
std::string Describe(const Statement &s) {
  switch (s.kind) {
  case kestrane::StmtEnd:
    return "E";
  case kestrane::StmtToken:
    return "T " + *s.keyword;
  case kestrane::StmtKeyword:
    return "K " + *s.keyword + (s.open ? " open" : "");
  case kestrane::StmtAssign:
    return "A " + *s.keyword + "=" + *s.value + (s.open ? " open" : "");
  default:
    return "?";
  }
}

// Reads statements at top level; an open bracket's further items are read with bracketRead.
std::vector<std::string> Statements(const std::string &text, const char *block = nullptr) {
  FileTools tools;
  std::istringstream in(text);
  std::vector<std::string> out;
  bool inBracket = false;
  for (;;) {
    const Statement s = tools.ReadStatement(block, in, inBracket);
    out.push_back(Describe(s));
    if (s.kind == kestrane::StmtEnd)
      return out;
    inBracket = s.open;
  }
}

std::string ErrorOf(const std::function<void()> &call) {
  try {
    call();
  } catch (const FileTools::Error &e) {
    EXPECT_NE(e.GetStream(), nullptr);
    return e.GetMessage();
  }
  return "no error";
}

std::string StatementError(const std::string &text, const char *block = nullptr) {
  return ErrorOf([&] { Statements(text, block); });
}

TEST(ReadTokenTest, SplitsWordsAndSpecialCharacters) {
  struct Case {
    const char *text;
    std::vector<std::string> tokens;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {" \t\r\n ", {}},
      {"1,2 3", {"1", "2", "3"}},
      {"[a=1]", {"[", "a", "=", "1", "]"}},
      {"[~Layer]", {"[~", "Layer", "]"}},
      {"<>*", {"<", ">", "*"}},
      {"ab/cd", {"ab", "/", "cd"}},
      {"x\x7f y\x01z", {"x", "y", "z"}},
      {"a\xc3\xa9z", {"a", "z"}}, // bytes above 127 separate like blanks
      {"[", {"["}},
      {"/* outer /* inner */ still comment */ 5", {"5"}},
      {"1/**/2", {"1", "2"}},
      {"a /* x */ /* y */ b", {"a", "b"}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST(ReadTokenTest, CommentFailures) {
  FileTools tools;
  EXPECT_EQ(ErrorOf([&] {
              std::istringstream in("/* never closed");
              tools.ReadToken(in);
            }),
            "Unexpected end of file during comment");
  EXPECT_EQ(ErrorOf([&] {
              std::istringstream in("/* /* inner closed */ outer not");
              tools.ReadToken(in);
            }),
            "Unexpected end of file during comment");
}

TEST(ReadTokenTest, DeeplyNestedCommentsDoNotExhaustTheStack) {
  std::string text;
  for (int i = 0; i < 1000000; ++i)
    text += "/*";
  EXPECT_EQ(StatementError(text), "Unexpected end of file during comment");
  for (int i = 0; i < 1000000; ++i)
    text += "*/";
  EXPECT_EQ(Tokens(text + " 7"), std::vector<std::string>{"7"});
}

TEST(ReadTokenTest, TokenLengthLimit) {
  const std::string fits(FileTools::kTokenBufferSize, 'x');
  EXPECT_EQ(Tokens(fits + " y"), (std::vector<std::string>{fits, "y"}));
  EXPECT_EQ(ErrorOf([&] { Tokens(fits + "x"); }), "Token longer than 1028 characters");
}

TEST(ReadStatementTest, Forms) {
  struct Case {
    const char *text;
    std::vector<std::string> statements;
  };
  const std::vector<Case> cases = {
      {"", {"E"}},
      {" /* only a comment */ ", {"E"}},
      {"[a]", {"K a", "E"}},
      {"[a b]", {"K a open", "K b", "E"}},
      {"[a=1]", {"A a=1", "E"}},
      {"[ a = 1 ]", {"A a=1", "E"}},
      {"[Neuron=0 Gain=1.5 ]", {"A Neuron=0 open", "A Gain=1.5", "E"}},
      {"1,2 3", {"T 1", "T 2", "T 3", "E"}},
      {"[FormatVersion = 1.0] [x]", {"K x", "E"}},
      {"[formatversion=0.5][FormatVersion = -3] 4", {"T 4", "E"}},
      {"[a=-0.25e3]", {"A a=-0.25e3", "E"}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Statements(c.text), c.statements) << c.text;
}

TEST(ReadStatementTest, EndTags) {
  EXPECT_EQ(Statements("5 [~Layer]", "LAYER"), (std::vector<std::string>{"T 5", "E"}));
  EXPECT_EQ(Statements("[~ layer ]", "Layer"), (std::vector<std::string>{"E"}));
}

TEST(ReadStatementTest, ManyFormatVersionsInARow) {
  std::string text;
  for (int i = 0; i < 200000; ++i)
    text += "[FormatVersion=1]";
  EXPECT_EQ(Statements(text + "[x]"), (std::vector<std::string>{"K x", "E"}));
}

TEST(ReadStatementTest, Failures) {
  struct Case {
    const char *text;
    const char *block;
    const char *message;
  };
  const std::vector<Case> cases = {
      {"", "Layer", "Unexpected end of file"},
      {"/* c */", "Layer", "Unexpected end of file"},
      {"[", nullptr, "Unexpected end of file"},
      {"[a=", nullptr, "Unexpected end of file"},
      {"[a b", nullptr, "Unexpected end of file"},
      {"[=3]", nullptr, "Unexpected special character"},
      {"[a = ]]", nullptr, "Unexpected special character"},
      {"[[a]", nullptr, "Unexpected special character"},
      {"[FormatVersion = 1.01]", nullptr, "Illegal Format Version"},
      {"[FormatVersion = 2]", nullptr, "Illegal Format Version"},
      {"[FormatVersion = v1]", nullptr, "number-expected"},
      {"[FormatVersion = 1.0 x]", nullptr, "Illegal Format of FormatVersion"},
      {"[~Layers]", "Layer", "Unexpected End Tag"},
      {"[~]", "Layer", "Unexpected End Tag"},
      {"[~Layer x", "Layer", "Expected ']'"},
      {"[~Layer", "Layer", "Expected ']'"},
      {"[a]]", nullptr, "Unexpected ']' where a statement should begin"},
      {"]", "Layer", "Unexpected ']' where a statement should begin"},
      {"[~Layer]", nullptr, "End tag found where no block is open"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(StatementError(c.text, c.block), c.message) << c.text;
}

Statement Read(const char *text) {
  FileTools tools;
  std::istringstream in(text);
  return tools.ReadStatement(nullptr, in, false);
}

TEST(CheckingReadersTest, ReturnValues) {
  FileTools tools;
  std::istringstream in;
  EXPECT_EQ(tools.ExpectBlock(Read("[Layer]"), in, "LAYER"), "Layer");
  EXPECT_EQ(tools.ExpectBlock(Read("[Layer x=1]"), in, nullptr), "Layer"); // open is fine
  EXPECT_NO_THROW(tools.ExpectEnd(Read(""), in));
  EXPECT_EQ(tools.ReadString(Read("[NetworkType = Vemo]"), in, "NETWORKTYPE"), "Vemo");
  EXPECT_EQ(tools.ReadString(Read("[NetworkType = Vemo]"), in, "NetworkType", "VEMO"), "");
  EXPECT_EQ(tools.ReadInteger(Read("[Layer = -2]"), in, "layer"), -2);
  EXPECT_EQ(tools.ReadNumber(Read("[Gain = 1.5]"), in, "Gain"), 1.5);
  EXPECT_EQ(tools.ReadNumberToken(Read("0.25"), in), 0.25);
}

TEST(CheckingReadersTest, Failures) {
  FileTools tools;
  std::istringstream in;
  struct Case {
    std::function<void()> call;
    const char *message;
  };
  const std::vector<Case> cases = {
      {[&] { tools.ExpectBlock(Read("[Network]"), in, "NEURALNETWORK"); },
       "[NEURALNETWORK] expected"},
      {[&] { tools.ExpectBlock(Read("[a=1]"), in, "a"); }, "[a] expected"},
      {[&] { tools.ExpectBlock(Read("5"), in, nullptr); }, "start of block expected"},
      {[&] { tools.ExpectEnd(Read("[a]"), in); }, "End Tag expected"},
      {[&] { tools.ReadString(Read("[NetworkInformation]"), in, "NETWORKTYPE"); },
       "[NETWORKTYPE = <string>] expectedNetworkInformation"},
      {[&] { tools.ReadString(Read(""), in, "NETWORKTYPE"); }, "[NETWORKTYPE = <string>] expected"},
      {[&] { tools.ReadString(Read("[NetworkType = MLP]"), in, "NetworkType", "Vemo"); },
       "[NetworkType = Vemo] expected"},
      {[&] { tools.ReadInteger(Read("[Rows]"), in, "Rows"); }, "[Rows = <integer>] expected"},
      {[&] { tools.ReadInteger(Read("[Rows = x]"), in, "Rows"); }, "integer-expected"},
      {[&] { tools.ReadNumber(Read("[Gain = 1]"), in, "Bias"); }, "[Bias = <number>] expected"},
      {[&] { tools.ReadNumberToken(Read("[a]"), in); }, "Token (number) expected"},
      {[&] { tools.ReadNumberToken(Read("abc"), in); }, "number-expected"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ErrorOf(c.call), c.message);
}

TEST(ParseNumbersTest, Conversions) {
  FileTools tools;
  std::istringstream in;
  EXPECT_EQ(tools.ParseInteger(in, "-7"), -7);
  EXPECT_EQ(tools.ParseInteger(in, " 12abc"), 12);
  EXPECT_EQ(tools.ParseInteger(in, "1.9"), 1);
  EXPECT_EQ(tools.ParseNumber(in, "1e-3"), 0.001);
  EXPECT_EQ(tools.ParseNumber(in, "0.1"), 0.1); // the double nearest, not a widened float
  EXPECT_EQ(tools.ParseNumber(in, "2.5x"), 2.5);
  EXPECT_EQ(ErrorOf([&] { tools.ParseInteger(in, "x"); }), "integer-expected");
  EXPECT_EQ(ErrorOf([&] { tools.ParseInteger(in, ""); }), "integer-expected");
  EXPECT_EQ(ErrorOf([&] { tools.ParseInteger(in, "99999999999999999999999"); }),
            "integer-expected");
  EXPECT_EQ(ErrorOf([&] { tools.ParseNumber(in, "x1"); }), "number-expected");
}

std::string Written(const std::function<void(FileTools &, std::ostream &)> &write) {
  FileTools tools;
  std::ostringstream out;
  write(tools, out);
  return out.str();
}

TEST(WritersTest, ExactOutput) {
  using W = std::function<void(FileTools &, std::ostream &)>;
  struct Case {
    W write;
    const char *text;
  };
  const std::vector<Case> cases = {
      {[](FileTools &t, std::ostream &o) { t.WriteFormatVersion(o); }, "[FormatVersion = 1.0]\n\n"},
      {[](FileTools &t, std::ostream &o) { t.WriteKeyword(o, "Layer", true); }, "[Layer]\n"},
      {[](FileTools &t, std::ostream &o) { t.WriteKeyword(o, "Layer", false); }, "Layer "},
      {[](FileTools &t, std::ostream &o) { t.WriteEndTag(o, "Layer"); }, "[~Layer]\n"},
      {[](FileTools &t, std::ostream &o) { t.WriteEndTag(o, nullptr); }, ""},
      {[](FileTools &t, std::ostream &o) { t.WriteEndTag(o, nullptr, false); }, ""},
      {[](FileTools &t, std::ostream &o) { t.WriteString(o, "Type", "Vemo", true); },
       "[Type = Vemo]\n"},
      {[](FileTools &t, std::ostream &o) { t.WriteString(o, "Type", "Vemo", false); },
       "Type=Vemo "},
      {[](FileTools &t, std::ostream &o) { t.WriteInteger(o, "Layer", 2, true); }, "[Layer = 2]\n"},
      {[](FileTools &t, std::ostream &o) { t.WriteInteger(o, "n", -9, false); }, "n=-9 "},
      {[](FileTools &t, std::ostream &o) { t.WriteNumber(o, "Weight", -0.25, 15, false); },
       "Weight=-0.250000000000000 "},
      {[](FileTools &t, std::ostream &o) { t.WriteNumber(o, "x", 1.5, 0, true); }, "[x = 2]\n"},
      {[](FileTools &t, std::ostream &o) {
         t.WriteStatement(kestrane::StmtToken, "0.5", nullptr, o, true);
       },
       "0.5 "},
      {[](FileTools &t, std::ostream &o) {
         t.OpenBracket(o, true);
         t.WriteString(o, "Neuron", "0", false);
         t.WriteNumber(o, "Gain", 1.5, 1, false);
         t.CloseBracket(o, true, true);
       },
       "[Neuron=0 Gain=1.5 ]\n"},
      {[](FileTools &t, std::ostream &o) {
         t.OpenBracket(o, false);
         t.CloseBracket(o, false, true);
         t.CloseBracket(o, true, false);
       },
       "]"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Written(c.write), c.text);
}

TEST(WritersTest, LongNumbersAreNotTruncated) {
  const std::string text =
      Written([](FileTools &t, std::ostream &o) { t.WriteNumber(o, "w", 1e300, 20, true); });
  EXPECT_EQ(text.size(), std::string("[w = ]\n").size() + 301 + 1 + 20);
  const std::string max = Written([](FileTools &t, std::ostream &o) {
    t.WriteInteger(o, "n", std::numeric_limits<long>::min(), false);
  });
  EXPECT_EQ(max, "n=" + std::to_string(std::numeric_limits<long>::min()) + " ");
}

TEST(WritersTest, WrittenStatementsReadBack) {
  const std::string text = Written([](FileTools &t, std::ostream &o) {
    t.WriteFormatVersion(o);
    t.WriteKeyword(o, "Layer", true);
    t.OpenBracket(o, true);
    t.WriteInteger(o, "Neuron", 3, false);
    t.WriteNumber(o, "Gain", 0.1, 15, false);
    t.CloseBracket(o, true, true);
    t.WriteEndTag(o, "Layer");
  });
  FileTools tools;
  std::istringstream in(text);
  EXPECT_EQ(tools.ExpectBlock(tools.ReadStatement(nullptr, in), in, "Layer"), "Layer");
  Statement s = tools.ReadStatement("Layer", in);
  EXPECT_TRUE(s.open);
  EXPECT_EQ(tools.ReadInteger(s, in, "Neuron"), 3);
  s = tools.ReadStatement("Layer", in, true);
  EXPECT_FALSE(s.open);
  EXPECT_EQ(tools.ReadNumber(s, in, "Gain"), 0.1);
  tools.ExpectEnd(tools.ReadStatement("Layer", in), in);
  EXPECT_EQ(tools.ReadStatement(nullptr, in).kind, kestrane::StmtEnd);
}

TEST(ParseToolsDeathTest, InternalErrors) {
  FileTools tools;
  std::ostringstream out;
  std::istringstream in;
  EXPECT_DEATH(tools.WriteFormatVersion(out, false),
               "Assertion failed: bracket, file FileHandler/ParseTools.cpp");
  EXPECT_DEATH(tools.WriteEndTag(out, "x", false), "Assertion failed: bracket");
  EXPECT_DEATH(tools.WriteStatement(kestrane::StmtNone, "x", nullptr, out, true),
               "Assertion failed: 0,");
  EXPECT_DEATH(tools.ReadInteger(Read("[a=1]"), in, nullptr), "Assertion failed: s != NULL");
}

} // namespace
