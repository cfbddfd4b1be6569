// How the command line selects the run mode and the preview parent.
#include <gtest/gtest.h>

#include "saver/modes.h"

namespace {
char Letter(std::vector<std::string> Args) { return ModeLetterFromArgs(Args); }
}  // namespace

TEST(ModeLetter, PrefixesCaseAndTrailingText) {
  for (const char* s : {"/s", "-S", "s", "Setup", "/S:123"}) EXPECT_EQ(Letter({s}), 'S') << s;
  EXPECT_EQ(Letter({"/c:1234"}), 'C');
  EXPECT_EQ(Letter({"/p", "1234"}), 'P');
  EXPECT_EQ(Letter({"/P", "1234"}), 'P');
  EXPECT_EQ(Letter({"-e"}), 'E');
  EXPECT_EQ(Letter({"a"}), 'A');
  // Only one prefix character is removed.
  EXPECT_EQ(Letter({"//c"}), '/');
  EXPECT_EQ(Letter({"-/c"}), '/');
  // Non-ASCII letters are not folded.
  EXPECT_EQ(Letter({"/\xE4"}), '\xE4');
}

TEST(ModeLetter, MissingEmptyOrBarePrefixMeansConfig) {
  EXPECT_EQ(Letter({}), 'C');
  EXPECT_EQ(Letter({""}), 'C');
  EXPECT_EQ(Letter({"/"}), 'C');
  EXPECT_EQ(Letter({"-"}), 'C');
  EXPECT_EQ(Letter({"-", "99"}), 'C');
}

TEST(ModeLetter, LettersMapToModes) {
  EXPECT_EQ(ModeFromLetter('A'), ssmPassword);
  EXPECT_EQ(ModeFromLetter('C'), ssmConfig);
  EXPECT_EQ(ModeFromLetter('E'), ssmSaver);
  EXPECT_EQ(ModeFromLetter('P'), ssmPreview);
  for (char c : {'S', '/', 'X', 'a', '\0'}) EXPECT_EQ(ModeFromLetter(c), ssmNone) << int(c);
  EXPECT_EQ(ModeFromLetter(Letter({"//c"})), ssmNone);
  EXPECT_EQ(static_cast<int>(ssmSaver), 4);
}

TEST(ParentHandle, SignedDecimalOrZero) {
  EXPECT_EQ(ParentHandleFromArg("1234"), 1234);
  EXPECT_EQ(ParentHandleFromArg("-5"), -5);
  EXPECT_EQ(ParentHandleFromArg("+7"), 7);
  EXPECT_EQ(ParentHandleFromArg("2147483647"), 2147483647);
  EXPECT_EQ(ParentHandleFromArg("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "-", "12a", "0x10", "2147483648", "99999999999999999999", " 12", "1.5"})
    EXPECT_EQ(ParentHandleFromArg(bad), 0) << bad;
}

TEST(CommandLine, SplitsLikeTheArgumentReader) {
  EXPECT_EQ(SplitCommandLine(R"("C:\Users\Jane Doe\s.scr" /p 1234)"),
            (std::vector<std::string>{R"(C:\Users\Jane Doe\s.scr)", "/p", "1234"}));
  EXPECT_EQ(SplitCommandLine("s.scr\t/c:77  "), (std::vector<std::string>{"s.scr", "/c:77"}));
  EXPECT_EQ(SplitCommandLine(R"(a "b c"d "")"), (std::vector<std::string>{"a", "b cd", ""}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}
