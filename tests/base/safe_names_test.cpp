#include "base/SafeNames.h"

#include <gtest/gtest.h>

#include <string>

namespace dsc {
namespace {

TEST(SafeNames, RefusesWhatWouldLeaveTheDirectoryOrDriveATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"LINAC", ""},
      {"VACUUM-1", ""},
      {"A.B", ""},
      {"CAF\xc9", ""},  // Latin-1 letters are names
      {"", "the name is empty"},
      {"a/b", "the name holds a \"/\""},
      {"/", "the name holds a \"/\""},
      {"..", "the name holds \"..\""},
      {"x..y", "the name holds \"..\""},
      {"S\x1b[2J", "the name holds a control character"},
      {std::string("S\0", 2), "the name holds a control character"},
      {"S\x7f", "the name holds a control character"},
      {"S\x9b", "the name holds a control character"},  // Latin-1's C1 controls
  };
  for (const auto& [name, why] : cases) EXPECT_EQ(UnsafeNameReason(name), why) << name;
}

TEST(SafeNames, ControlCharactersAreShownNotSent) {
  EXPECT_EQ(VisibleControls("a\x1b[2J\tb\x7f\\"), "a\\x1B[2J\\x09b\\x7F\\");
  EXPECT_EQ(VisibleControls("caf\xc3\xa9"), "caf\xc3\xa9");  // UTF-8 passes unchanged
}

}  // namespace
}  // namespace dsc
