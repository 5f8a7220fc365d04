#include "base/SafeNames.h"

#include <gtest/gtest.h>

#include <utility>

namespace dsc {
namespace {

TEST(SafeNames, RefusesWhatWouldLeaveTheDirectoryOrDriveATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"VACUUM-1.A", ""},
      {"CAF\xc9", ""},  // Latin-1 letters are names
      {"", "the name is empty"},
      {"/", "the name holds a \"/\""},
      {"x..y", "the name holds \"..\""},
      {std::string("S\0", 2), "the name holds a control character"},
      {"S\x7f", "the name holds a control character"},
      {"S\x9b", "the name holds a control character"},  // Latin-1's C1 controls
  };
  for (const auto& [name, why] : cases) EXPECT_EQ(UnsafeNameReason(name), why) << name;
  EXPECT_EQ(VisibleControls("a\x1b[2J\tb\x7f\\caf\xc3\xa9"), "a\\x1B[2J\\x09b\\x7F\\caf\xc3\xa9");
}

}  // namespace
}  // namespace dsc
