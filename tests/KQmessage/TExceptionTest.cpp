#include "KQmessage/TException.h"
#include "KQmessage/KAssert.h"

#include <gtest/gtest.h>

namespace {

using kestrane::TException;

TEST(StrCaseCmp, ReturnsExactlyMinusOneZeroOrOne) {
  EXPECT_EQ(kestrane::strcasecmp("Batch", "BATCH"), 0);
  EXPECT_EQ(kestrane::strcasecmp("", ""), 0);
  EXPECT_EQ(kestrane::strcasecmp("abc", "abd"), -1);
  EXPECT_EQ(kestrane::strcasecmp("ABD", "abc"), 1);
  EXPECT_EQ(kestrane::strcasecmp("ab", "abc"), -1);
  EXPECT_EQ(kestrane::strcasecmp("abc", "ab"), 1);
  // Far-apart letters still give exactly -1 and 1, unlike the C library.
  EXPECT_EQ(kestrane::strcasecmp("a", "z"), -1);
  EXPECT_EQ(kestrane::strcasecmp("z", "A"), 1);
}

TEST(StrCaseCmp, ComparesAsUnsignedBytes) {
  EXPECT_EQ(kestrane::strcasecmp("\xe9", "a"), 1);
  EXPECT_EQ(kestrane::strcasecmp("a", "\xe9"), -1);
}

TEST(TExceptionTest, CarriesItsThreeTexts) {
  const TException e("Insufficient number of classes", kestrane::kBadParameter,
                     "TDataManip::Recombine");
  EXPECT_EQ(e.GetMessage(), "Insufficient number of classes");
  EXPECT_EQ(e.GetCategory(), "Bad Parameter");
  EXPECT_EQ(e.GetFunctionName(), "TDataManip::Recombine");
  EXPECT_STREQ(e.what(), "Insufficient number of classes");
  EXPECT_EQ(e.GetDetails(), nullptr);
}

TEST(TExceptionTest, CategoryMayBeAbsent) {
  const TException e("message", nullptr);
  EXPECT_FALSE(e.HasCategory());
  EXPECT_FALSE(e.HasFunctionName());
  EXPECT_EQ(e.GetCategory(), "");
  const TException copy = e;
  EXPECT_EQ(copy.GetMessage(), "message");
}

TEST(KAssertDeathTest, ReportsExpressionFileAndLine) {
  const int one = 1;
  EXPECT_DEATH(
      KASSERT(one == 2),
      "^Assertion failed: one == 2, file tests/KQmessage/TExceptionTest.cpp, line [0-9]+\n");
  EXPECT_DEATH(KASSERT_TEXT(one == 2, "false"),
               "^Assertion failed: false, file tests/KQmessage/TExceptionTest.cpp, line [0-9]+\n");
}

TEST(KAssertTest, PassingAssertionDoesNothing) {
  KASSERT(1 + 1 == 2);
  SUCCEED();
}

} // namespace
