#ifndef KESTRANE_TESTS_SUPPORT_TABLECHECKS_H
#define KESTRANE_TESTS_SUPPORT_TABLECHECKS_H

// Expectations shared by the tests of the data table and of what builds tables.

#include "DataObject/Data.h"
#include "KQmessage/TException.h"

#include <gtest/gtest.h>

#include <functional>

namespace testsupport {

// The call raises a TException with exactly this message, category and function.
inline void ExpectThrows(const std::function<void()> &call, const char *message,
                         const char *category, const char *function) {
  try {
    call();
    ADD_FAILURE() << "no exception, expected " << message;
  } catch (const kestrane::TException &e) {
    EXPECT_EQ(e.GetMessage(), message);
    EXPECT_EQ(e.GetCategory(), category);
    EXPECT_EQ(e.GetFunctionName(), function);
  }
}

// The same shape and the same values and labels in every slot.
inline void ExpectSameRows(const kestrane::Data &a, const kestrane::Data &b) {
  EXPECT_EQ(a.MbrNdxRows, b.MbrNdxRows);
  EXPECT_EQ(a.MbrNdxInputs, b.MbrNdxInputs);
  EXPECT_EQ(a.MbrNdxOutputs, b.MbrNdxOutputs);
  EXPECT_EQ(a.MbrBlnLabels, b.MbrBlnLabels);
  EXPECT_EQ(a.MbrDyaRtpInputs, b.MbrDyaRtpInputs);
  EXPECT_EQ(a.MbrDyaRtpOutputs, b.MbrDyaRtpOutputs);
  ASSERT_EQ(a.MbrDyaLabels.size(), b.MbrDyaLabels.size());
  for (size_t i = 0; i < a.MbrDyaLabels.size(); ++i)
    EXPECT_EQ(a.MbrDyaLabels[i], b.MbrDyaLabels[i]) << "slot " << i;
}

// ExpectSameRows, and the ring and cursor state too.
inline void ExpectSameTable(const kestrane::Data &a, const kestrane::Data &b) {
  ExpectSameRows(a, b);
  EXPECT_EQ(a.MbrNdxDataRows, b.MbrNdxDataRows);
  EXPECT_EQ(a.MbrNdxFirst, b.MbrNdxFirst);
  EXPECT_EQ(a.MbrNdxLast, b.MbrNdxLast);
  EXPECT_EQ(a.MbrNdxCursor, b.MbrNdxCursor);
  EXPECT_EQ(a.MbrNdxChanges, b.MbrNdxChanges);
}

} // namespace testsupport

#endif
