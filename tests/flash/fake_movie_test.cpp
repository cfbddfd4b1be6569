// The fake player's movie scan and log fields, which the end-to-end tests
// rely on to script the fake and to read what it saw.
#include "tests/doubles/fakeplayer/fake_movie.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(FakeMovie, FindsCommandAndArgsLaidOutLikeAGetUrlAction) {
  const auto c = FindFSCommand("FWS\x06junk\x83\x10\x00"s + "FSCommand:quit\0some args\0tail"s);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Command, "quit");
  EXPECT_EQ(c->Args, "some args");
  // Only the first command counts; a blank stays part of the command.
  const auto first = FindFSCommand("FSCommand:quit \0\0FSCommand:other\0x\0"s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Command, "quit ");
  EXPECT_EQ(first->Args, "");
}

TEST(FakeMovie, TextsMayRunToTheEndOfTheData) {
  auto c = FindFSCommand("xxFSCommand:quit"s);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Command, "quit");
  EXPECT_EQ(c->Args, "");
  c = FindFSCommand("FSCommand:\0"s);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Command, "");
  c = FindFSCommand("FSCommand:a\0b"s);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Args, "b");
  EXPECT_FALSE(FindFSCommand("FSComman"));
  EXPECT_FALSE(FindFSCommand("fscommand:quit"));
  EXPECT_FALSE(FindFSCommand(""));
}

TEST(FakeMovie, LogFieldsHoldNoBlankOrLineBreakAndReadBackExactly) {
  const std::string cases[] = {"",
                               "plain",
                               "C:\\Users\\Jane Doe\\m.swf",
                               "a\nb\rc\td",
                               "\x01\x7f\x1f",
                               "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                               "\\e",
                               "\\x4"};
  for (const auto& text : cases) {
    const std::string field = EscapeLogField(text);
    EXPECT_FALSE(field.empty());
    EXPECT_EQ(field.find_first_of(" \n\r\t"), std::string::npos) << field;
    EXPECT_EQ(UnescapeLogField(field), text) << field;
  }
  EXPECT_EQ(EscapeLogField("a b"), "a\\sb");
  EXPECT_EQ(EscapeLogField(""), "\\e");
  // Japanese UTF-8 passes untouched, so the log can be compared as UTF-8.
  EXPECT_EQ(EscapeLogField("\xE6\x97\xA5"), "\xE6\x97\xA5");
  // A truncated escape reads back as written rather than past the end.
  EXPECT_EQ(UnescapeLogField("ab\\x4"), "ab\\x4");
  EXPECT_EQ(UnescapeLogField("ab\\"), "ab\\");
}
