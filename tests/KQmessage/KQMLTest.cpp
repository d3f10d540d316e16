#include "KQmessage/KQML.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kestrane::TKQstructure;

std::string ReplyOf(void (*call)()) {
  try {
    call();
  } catch (const TKQstructure::Error &e) {
    EXPECT_EQ(e.GetReply().GetHead(), "error");
    return e.GetReply().ToString();
  }
  return "no error raised";
}

TEST(KQMLTest, NewStructuresHaveDefaultHeadAndCapacity) {
  const TKQstructure empty;
  EXPECT_EQ(empty.GetHead(), "unknown");
  EXPECT_EQ(empty.GetCapacity(), 16);
  EXPECT_EQ(empty.GetCount(), 0);
  EXPECT_EQ(TKQstructure("Params").GetHead(), "Params");
}

TEST(KQMLTest, SetReplacesIgnoringCaseAndKeepsFirstSpelling) {
  TKQstructure s("Params");
  s.SetWord("LearningRate", "0.1");
  s.SetWord("LEARNINGRATE", "0.2");
  ASSERT_EQ(s.GetCount(), 1);
  EXPECT_EQ(s.GetKeyword(0), "LearningRate");
  EXPECT_EQ(s.Find("learningrate")->GetHead(), "0.2");
  EXPECT_EQ(s.Get("LearningRate").GetHead(), "0.2");
  EXPECT_EQ(s.Find("Momentum"), nullptr);
}

TEST(KQMLTest, SetReturnsTheStoredValue) {
  TKQstructure s("x");
  auto value = std::make_unique<TKQstructure>("v");
  TKQstructure *raw = value.get();
  EXPECT_EQ(s.Set("k", std::move(value)), raw);
  EXPECT_EQ(s.Find("k"), raw);
}

TEST(KQMLTest, CapacityDoublesAndCopiesStartAtTheSourceCount) {
  TKQstructure s("x");
  for (int i = 0; i < 16; ++i)
    s.SetInteger(("k" + std::to_string(i)).c_str(), i);
  EXPECT_EQ(s.GetCapacity(), 16);
  s.SetInteger("k16", 16);
  EXPECT_EQ(s.GetCapacity(), 32);

  const TKQstructure copy(s);
  EXPECT_EQ(copy.GetCapacity(), 17);
  EXPECT_EQ(copy.ToString(), s.ToString());

  const TKQstructure leaf("leaf");
  TKQstructure leafCopy(leaf);
  EXPECT_EQ(leafCopy.GetCapacity(), 0);
  leafCopy.SetWord("a", "b");
  EXPECT_EQ(leafCopy.GetCapacity(), 16);
}

TEST(KQMLTest, CopiesAreDeep) {
  TKQstructure s("x");
  s.SetWord("a", "1");
  TKQstructure copy(s);
  copy.SetWord("a", "2");
  EXPECT_EQ(s.Get("a").GetHead(), "1");

  TKQstructure assigned;
  assigned.SetWord("old", "gone");
  assigned = s;
  EXPECT_EQ(assigned.ToString(), "(x :a 1)");
  assigned = assigned; // self-assignment keeps the structure
  EXPECT_EQ(assigned.ToString(), "(x :a 1)");
}

TEST(KQMLTest, AssigningADescendantIsSafe) {
  auto s = TKQstructure::Parse("(a :b (c :d e))");
  ASSERT_NE(s, nullptr);
  *s = s->Get("b");
  EXPECT_EQ(s->ToString(), "(c :d e)");
}

TEST(KQMLTest, RemoveMovesTheLastPairIntoTheGap) {
  TKQstructure s("x");
  s.SetWord("a", "1");
  s.SetWord("b", "2");
  s.SetWord("c", "3");
  s.Remove("A");
  EXPECT_EQ(s.ToString(), "(x :c 3 :b 2)");
  s.Remove("missing");
  s.Remove("b");
  EXPECT_EQ(s.ToString(), "(x :c 3)");
}

TEST(KQMLTest, TypedSettersWriteText) {
  TKQstructure s("Params");
  s.SetNumber("LearningRate", 0.5);
  s.SetNumber("Momentum", 0.5);
  s.SetNumber("Threshold", 0.0);
  s.SetBoolean("Batch", true);
  EXPECT_EQ(s.ToString(),
            "(Params :LearningRate 0.500000 :Momentum 0.500000 :Threshold 0.000000 :Batch true)");
  s.SetNumber("a", 0.1);
  s.SetNumber("b", 0.0000004);
  s.SetInteger("c", -2147483647 - 1);
  s.SetBoolean("d", false);
  s.SetNumber("e", 1e300); // long fixed-point text is kept whole
  EXPECT_EQ(s.Get("a").GetHead(), "0.100000");
  EXPECT_EQ(s.Get("b").GetHead(), "0.000000");
  EXPECT_EQ(TKQstructure::ParseNumber(s.Get("b").GetHead().c_str()), 0.0);
  EXPECT_EQ(s.Get("c").GetHead(), "-2147483648");
  EXPECT_EQ(s.Get("d").GetHead(), "false");
  EXPECT_EQ(s.Get("e").GetHead().size(), 301u + 7u);
}

TEST(KQMLTest, TypedReadersConvertLeadingNumbers) {
  EXPECT_EQ(TKQstructure::ParseInteger("42"), 42);
  EXPECT_EQ(TKQstructure::ParseInteger(" -7xyz"), -7);
  EXPECT_EQ(TKQstructure::ParseNumber("2.5abc"), 2.5);
  EXPECT_EQ(TKQstructure::ParseNumber("0.1"), 0.1);
  EXPECT_TRUE(TKQstructure::ParseBoolean("TrUe"));
  EXPECT_FALSE(TKQstructure::ParseBoolean("FALSE"));
  EXPECT_EQ(TKQstructure::ParseIntegerStrict("12"), 12);
  EXPECT_EQ(TKQstructure::ParseNumberStrict("1e-3"), 0.001);
}

TEST(KQMLTest, ErrorReplies) {
  struct Case {
    void (*call)();
    const char *reply;
  };
  const std::vector<Case> cases = {
      {[] { TKQstructure::ParseInteger("abc"); },
       "(error :type invalid-message :integer-expected abc)"},
      {[] { TKQstructure::ParseInteger("99999999999999999999999"); },
       "(error :type invalid-message :integer-expected 99999999999999999999999)"},
      {[] { TKQstructure::ParseNumber("letters"); },
       "(error :type invalid-message :number-expected letters)"},
      {[] { TKQstructure::ParseBoolean("yes"); }, "(error :type type-error :expected boolean)"},
      {[] { TKQstructure("x").Require("Batch"); }, "(error :type invalid-message :expected Batch)"},
      {[] { TKQstructure("x").CheckValue("Batch", ""); },
       "(error :type invalid-message :expected Batch)"},
      {[] {
         TKQstructure s("x");
         s.SetWord("Batch", "maybe");
         s.CheckValue("BATCH", "true");
       },
       "(error :type invalid-message :tag BATCH :expected-value true)"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ReplyOf(c.call), c.reply);
}

TEST(KQMLTest, ChecksThatPass) {
  TKQstructure s("x");
  s.SetWord("Batch", "TRUE");
  EXPECT_NO_THROW(s.CheckValue("batch", "true"));
  EXPECT_NO_THROW(s.CheckValue("batch", ""));
  EXPECT_EQ(s.Require("BATCH").GetHead(), "TRUE");
  EXPECT_EQ(TKQstructure::MakeError("oops")->ToString(), "(error :type oops)");
}

TEST(KQMLTest, ErrorWhatIsTheReplyText) {
  try {
    TKQstructure::ParseBoolean("x");
    FAIL();
  } catch (const std::exception &e) {
    EXPECT_STREQ(e.what(), "(error :type type-error :expected boolean)");
  }
}

TEST(KQMLParseTest, RoundTrips) {
  const std::vector<std::string> texts = {
      "leaf", "(a :b (c :d e))",
      "(Params :LearningRate 0.500000 :Momentum 0.500000 :Threshold 0.000000 :Batch true)",
      "(x :k a:b)", // a colon inside a word belongs to it
  };
  for (const std::string &text : texts) {
    auto s = TKQstructure::Parse(text);
    ASSERT_NE(s, nullptr) << text;
    EXPECT_EQ(s->ToString(), text);
  }
}

TEST(KQMLParseTest, BuildsTheTree) {
  auto s = TKQstructure::Parse("  (a\t:b\n(c :d e))  ");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetHead(), "a");
  ASSERT_EQ(s->GetCount(), 1);
  const TKQstructure &b = s->Get("b");
  EXPECT_EQ(b.GetHead(), "c");
  EXPECT_EQ(b.Get("d").GetHead(), "e");
  EXPECT_TRUE(b.Get("d").IsLeaf());
  // A repeated keyword replaces the earlier value.
  EXPECT_EQ(TKQstructure::Parse("(a :k 1 :K 2)")->ToString(), "(a :k 2)");
  // A structure without pairs is a leaf.
  EXPECT_EQ(TKQstructure::Parse("(x)")->ToString(), "x");
}

TEST(KQMLParseTest, RejectsMalformedText) {
  struct Case {
    const char *text;
    bool message; // "special character unexpected" on standard error
  };
  const std::vector<Case> cases = {
      {"", true},         {")", true},          {"(", true},
      {"(:a b)", true},   {"(a : )", true},     {"(a :b)", true},
      {"(a :b c", false}, {"(a b)", false},     {"(a :b c) x", false},
      {"a b", false},     {"(a :b c))", false},
  };
  for (const Case &c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(TKQstructure::Parse(c.text), nullptr) << c.text;
    const std::string err = testing::internal::GetCapturedStderr();
    if (c.message)
      EXPECT_EQ(err, "special character unexpected\n") << c.text;
    else
      EXPECT_EQ(err, "") << c.text;
  }
}

TEST(KQMLParseTest, NestingIsCapped) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i)
      text += "(a :b ";
    text += "leaf";
    for (int i = 0; i < depth; ++i)
      text += ")";
    return text;
  };
  EXPECT_NE(TKQstructure::Parse(nested(TKQstructure::kMaxParseDepth)), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TKQstructure::Parse(nested(TKQstructure::kMaxParseDepth + 1)), nullptr);
  EXPECT_EQ(TKQstructure::Parse(std::string(1000000, '(')), nullptr);
  EXPECT_EQ(TKQstructure::Parse(nested(100000)), nullptr);
  testing::internal::GetCapturedStderr();
}

// Past a handful of pairs the keywords are found through an index; it must
// agree with the plain rules: case-insensitive, first spelling kept, Remove
// moving the last pair into the gap, copies and assignments indexed alike.
TEST(KQMLTest, ManyPairsKeepTheRulesOfFewPairs) {
  TKQstructure s("x");
  for (int i = 0; i < 20; ++i)
    s.SetInteger(("Key" + std::to_string(i)).c_str(), i);
  s.SetWord("KEY3", "three");
  EXPECT_EQ(s.GetCount(), 20);
  EXPECT_EQ(s.GetKeyword(3), "Key3");
  EXPECT_EQ(s.Get("key3").GetHead(), "three");
  s.Remove("kEy5");
  EXPECT_EQ(s.GetKeyword(5), "Key19");
  EXPECT_EQ(s.Find("key5"), nullptr);
  EXPECT_EQ(s.Get("KEY19").GetHead(), "19");
  s.SetWord("key19", "last");
  EXPECT_EQ(s.GetValue(5).GetHead(), "last");
  while (s.GetCount() > 3)
    s.Remove(s.GetKeyword(0).c_str());
  s.SetWord("new", "n");
  EXPECT_EQ(s.Get("NEW").GetHead(), "n");

  TKQstructure copy(s);
  TKQstructure assigned;
  assigned = s;
  for (const TKQstructure *t : {&copy, &assigned}) {
    EXPECT_EQ(t->ToString(), s.ToString());
    for (int i = 0; i < s.GetCount(); ++i)
      EXPECT_EQ(t->Find(s.GetKeyword(i).c_str()), &t->GetValue(i));
  }
}

// A message of 50000 pairs parses in linear time (each pair used to be
// compared with every earlier one).
TEST(KQMLParseTest, ManyPairsParseQuickly) {
  std::string text = "(big";
  for (int i = 0; i < 50000; ++i)
    text += " :k" + std::to_string(i) + " " + std::to_string(i);
  text += " :K7 seven)";
  const auto parsed = TKQstructure::Parse(text);
  ASSERT_NE(parsed, nullptr);
  EXPECT_EQ(parsed->GetCount(), 50000);
  EXPECT_EQ(parsed->Get("k7").GetHead(), "seven");
  EXPECT_EQ(parsed->Get("K49999").GetHead(), "49999");
}

TEST(KQMLTest, PrintWritesTheTextForm) {
  TKQstructure s("x");
  s.SetWord("a", "1");
  testing::internal::CaptureStdout();
  s.Print();
  s.PrintLine();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "(x :a 1)(x :a 1)\n");
}

TEST(KQMLTest, JoinWordsSkipsTheFirst) {
  const char *words[] = {"prog", "a", "bc"};
  EXPECT_EQ(TKQstructure::JoinWords(3, words), "a bc ");
  EXPECT_EQ(TKQstructure::JoinWords(1, words), "");
}

TEST(KQMLDeathTest, InternalErrors) {
  TKQstructure s("x");
  EXPECT_DEATH(s.Set("k", nullptr), "Assertion failed: newval != NULL");
  EXPECT_DEATH(s.Get("missing"), "Assertion failed: ");
  EXPECT_DEATH(TKQstructure::ParseIntegerStrict("x"), "Assertion failed: err == 1");
  EXPECT_DEATH(TKQstructure::ParseNumberStrict("x"), "Assertion failed: err == 1");
}

} // namespace
