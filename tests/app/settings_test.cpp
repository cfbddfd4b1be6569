// Decoding the settings catalogue, composing FlashVars, and where package
// names may put files.
#include <gtest/gtest.h>

#include <deque>

#include "app/extraction_plan.h"
#include "app/file_names.h"
#include "app/settings.h"
#include "package/writer.h"
#include "tests/support/package_builder.h"
#include "tools/plws/package_check.h"

namespace {

// Items over buffers the fixture owns, as the package reader hands them out.
class Items {
 public:
  Items& Add(const std::string& Name, const std::vector<uint8_t>& Bytes) {
    FBuffers.push_back(Bytes);
    TItemType item;
    item.Name = Name;
    if (!Bytes.empty()) {
      item.Data = FBuffers.back().data();
      item.Size = static_cast<int32_t>(Bytes.size());
    }
    FItems.push_back(item);
    return *this;
  }
  Items& Text(const std::string& Name, const std::string& Value) {
    return Add(Name, std::vector<uint8_t>(Value.begin(), Value.end()));
  }
  Items& Flag(const std::string& Name, uint8_t Value) { return Add(Name, {Value}); }
  Items& Int(const std::string& Name, int32_t Value) { return Add(Name, Int32Bytes(Value)); }
  TPlayerSettings Decode() const { return DecodeSettings(FItems); }
  // What `plws check` reports, one "item: text" line each.
  std::vector<std::string> Check() const {
    std::vector<std::string> lines;
    for (const auto& n : CheckPackageItems(FItems, IsShiftJisLeadByte))
      lines.push_back(std::to_string(n.Item) + ": " + n.Text);
    return lines;
  }

 private:
  std::deque<std::vector<uint8_t>> FBuffers;
  TItemTypes FItems;
};

std::string BlockText(const TItemBlock& B) {
  return B.Data ? std::string(reinterpret_cast<const char*>(B.Data), B.Size) : std::string();
}

}  // namespace

TEST(DecodeSettings, NoItemsGiveTheDefaults) {
  const TPlayerSettings s = Items().Decode();
  EXPECT_EQ(s.Scale, "NoScale");
  EXPECT_EQ(s.RequiredVersion, "0.0.0.0");
  EXPECT_FALSE(s.Loop);
  EXPECT_EQ(s.Quality, 0);
  EXPECT_EQ(s.BackColor, 0);
  EXPECT_EQ(s.Position, 0);
  EXPECT_FALSE(s.Movie);
  EXPECT_FALSE(s.StopByMouse);
  EXPECT_FALSE(s.StopByKey);
  EXPECT_FALSE(s.ShowMouseCursor);
  EXPECT_FALSE(s.DialogTitle);
  EXPECT_FALSE(s.DialogCloseBtn);
  EXPECT_FALSE(s.DialogImage);
  EXPECT_TRUE(s.NeedFiles.empty());
}

TEST(DecodeSettings, ValuesEncodingsAndOrder) {
  Items items;
  items.Flag("FlashStretch", 2)  // any non-zero byte is on, decided after the last item
      .Flag("FlashLoop", 1)
      .Flag("FlashLoop", 0)      // a later value wins
      .Flag("flashloop", 1)      // keys are case-sensitive
      .Flag("FlashMenu", 1)
      .Flag("FlashMenuFull", 7)
      .Int("FlashQuality", -3)
      .Int("FlashBackColor", 0x402000)
      .Add("FlashBackColor", {1, 2, 3})  // too short for an int32: absent
      .Add("FlashMenu", {})              // too short for a flag: absent
      .Text("FlashVars", "a=1&b=2")
      .Int("ScreenSaverPosition", 258)
      .Flag("FlashPreviewSleep", 1)
      .Text("FlashVersion", "9,0,124")
      .Text("FlashVersion", "8.0")
      .Text("FlashSwfName", "m.swf");
  TPlayerSettings s = items.Decode();
  EXPECT_EQ(s.Scale, "ShowAll");
  EXPECT_FALSE(s.Loop);
  EXPECT_TRUE(s.Menu);
  EXPECT_TRUE(s.MenuFull);
  EXPECT_EQ(s.Quality, -3);
  EXPECT_EQ(s.BackColor, 0x402000);
  EXPECT_EQ(s.FlashVars, "a=1&b=2");
  EXPECT_EQ(s.Position, 2);
  EXPECT_TRUE(s.PreviewSleep);
  EXPECT_EQ(s.RequiredVersion, "8.0");
  EXPECT_EQ(s.SwfName, "m.swf");

  s = Items().Int("ScreenSaverPosition", 256).Text("FlashVersion", "").Flag("FlashStretch", 0).Decode();
  EXPECT_EQ(s.Position, 0);
  EXPECT_EQ(s.RequiredVersion, "0.0.0.0");
  EXPECT_EQ(s.Scale, "NoScale");
}

TEST(DecodeSettings, HostAndDialogItemsAreOptional) {
  static const uint8_t bmp[] = {'B', 'M', 0, 0};
  Items items;  // the result borrows the item blocks: keep them alive
  const TPlayerSettings s = items
                                .Flag("ScreenSaverStopByMouse", 0)
                                .Flag("ScreenSaverStopByKey", 1)
                                .Add("ScreenSaverShowMouseCursor", {})
                                .Text("DialogTitle", "")
                                .Text("DialogCopyrightStr", "(c) x")
                                .Text("DialogURL", "http://example.invalid/")
                                .Flag("DialogCloseBtn", 0)
                                .Add("DialogImage", std::vector<uint8_t>(bmp, bmp + 4))
                                .Decode();
  EXPECT_EQ(s.StopByMouse, std::optional<bool>(false));
  EXPECT_EQ(s.StopByKey, std::optional<bool>(true));
  EXPECT_FALSE(s.ShowMouseCursor);  // an empty flag item counts as absent
  EXPECT_EQ(s.DialogTitle, std::optional<std::string>(""));
  EXPECT_EQ(s.DialogCopyright, std::optional<std::string>("(c) x"));
  EXPECT_EQ(s.DialogURL, "http://example.invalid/");
  EXPECT_EQ(s.DialogCloseBtn, std::optional<bool>(false));
  ASSERT_TRUE(s.DialogImage);
  EXPECT_EQ(BlockText(*s.DialogImage), std::string("BM\0\0", 4));
}

TEST(DecodeSettings, NeedFileTable) {
  Items items;
  items.Text("FlashNeedFileName1", "early.xml")  // before the count: no slot yet
      .Int("FlashNeedFileCount", 10)
      .Text("FlashNeedFileName03", "sub\\data.xml")
      .Text("FlashNeedFileData03", "<x/>")
      .Text("FlashNeedFileName10", "past.xml")   // index == length
      .Text("FlashNeedFileName-1", "neg.xml")
      .Text("FlashNeedFileNamex", "nan.xml")
      .Text("xyzFlashNeedFileName5", "five.xml")  // first occurrence of the key anywhere
      .Text("FlashNeedFileName7", "seven.xml")
      .Add("FlashNeedFileData7", {})              // no bytes: no data
      .Text("FlashNeedFileData9", "nine")
      .Int("FlashNeedFileCount", 6)               // shrinking drops slots 7 and 9
      .Int("FlashNeedFileCount", 2000000000);     // growing keeps what is there
  const TPlayerSettings s = items.Decode();
  ASSERT_EQ(s.NeedFiles.size(), 2u);
  EXPECT_EQ(s.NeedFiles[0].Index, 3);
  EXPECT_EQ(s.NeedFiles[0].Name, "sub\\data.xml");
  EXPECT_EQ(BlockText(s.NeedFiles[0].Block), "<x/>");
  EXPECT_EQ(s.NeedFiles[1].Index, 5);
  EXPECT_EQ(s.NeedFiles[1].Name, "five.xml");
  EXPECT_EQ(s.NeedFiles[1].Block.Data, nullptr);

  EXPECT_TRUE(Items().Int("FlashNeedFileCount", -5).Text("FlashNeedFileName0", "a").Decode().NeedFiles.empty());
  EXPECT_TRUE(Items().Text("FlashNeedFileName0", "a").Int("FlashNeedFileCount", 1).Decode().NeedFiles.empty());
}

TEST(DecodeSettings, MovieKeepsTheNamesInEffectWhenItCame) {
  Items items;
  const TPlayerSettings s = items
                                .Text("GUID", "first")
                                .Text("FlashSwf", "FWS-1")
                                .Text("FlashSwfName", "b.swf")
                                .Text("FlashSwf", "FWS-2")
                                .Text("GUID", "later")
                                .Text("FlashSwfName", "c.swf")
                                .Decode();
  ASSERT_TRUE(s.Movie);
  EXPECT_EQ(BlockText(s.Movie->Block), "FWS-2");
  EXPECT_EQ(s.Movie->GUID, "first");
  EXPECT_EQ(s.Movie->SwfName, "b.swf");
  EXPECT_EQ(s.GUID, "later");
  EXPECT_EQ(s.SwfName, "c.swf");
}

TEST(ComposeFlashVars, AuthorTextThenModeWord) {
  EXPECT_EQ(ComposeFlashVars("a=1", "normal"), "a=1&plumexmode=normal");
  EXPECT_EQ(ComposeFlashVars("", "normal"), "plumexmode=normal");
  EXPECT_EQ(ComposeFlashVars("a=1&b=2", "preview"), "a=1&b=2&plumexmode=preview");
}

// The movie's command that ends the saver (and `plws play`): the word in any
// letter case, and nothing before or after it.
TEST(IsQuitCommand, TheWordInAnyCaseAndNothingElse) {
  for (const char* quit : {"quit", "QUIT", "Quit", "qUIt"}) EXPECT_TRUE(IsQuitCommand(quit)) << quit;
  for (const char* other : {"quit ", " quit", "quit\t", "\nquit", "quits", "qui", "quit:now", "", "exit"})
    EXPECT_FALSE(IsQuitCommand(other)) << other;
}

TEST(SafeNames, OneComponentOrNothing) {
  for (const char* ok : {"movie.swf", "{6B1C2F4E-8A3D-4E59-9C71-2F0B5D8E4A10}", ".swf", "a..b", "CONSOLE",
                         "com10", "x y", "COM\xB4", "LPT\xB9\xB9"})
    EXPECT_EQ(SafeFileComponent(ok), std::optional<std::string>(ok)) << ok;
  for (const std::string& bad : std::initializer_list<std::string>
       {"", ".", "..", "a/b", "a\\b", "C:x", "a*", "a?", "a|b", "a\"b", "<a>", std::string("a\0b", 3),
        "a\tb", "a\x7f", "x.", "x ", "CON", "con.txt", "NUL", "Com1", "lpt9.swf", "AUX .x", "CONOUT$",
        "COM\xB9", "lpt\xB3.txt", "Com\xC2\xB2", std::string(256, 'a')})
    EXPECT_FALSE(SafeFileComponent(bad)) << bad;

  EXPECT_EQ(FileNamePart("sub\\data.xml"), std::optional<std::string>("data.xml"));
  EXPECT_EQ(FileNamePart("..\\..\\x"), std::optional<std::string>("x"));
  EXPECT_EQ(FileNamePart("a/../../x"), std::optional<std::string>("x"));
  EXPECT_EQ(FileNamePart("C:\\x"), std::optional<std::string>("x"));
  EXPECT_EQ(FileNamePart("C:x"), std::optional<std::string>("x"));
  EXPECT_FALSE(FileNamePart("a\\.."));
  EXPECT_FALSE(FileNamePart("dir/"));
  EXPECT_FALSE(FileNamePart("\\\\.\\NUL"));

  // Shift-JIS: the second byte of "表" (0x95 0x5C) is a backslash, and not a
  // separator; a lead byte with no second byte is refused.
  const std::string hyou = "\x95\x5C.xml";
  EXPECT_EQ(FileNamePart("dir\\" + hyou, IsShiftJisLeadByte), std::optional<std::string>(hyou));
  EXPECT_EQ(FileNamePart("dir\\" + hyou, IsSingleByteLeadByte), std::optional<std::string>(".xml"));
  EXPECT_FALSE(SafeFileComponent("a\x95", IsShiftJisLeadByte));
}

namespace {

TPlayerSettings WithMovie(const std::string& Guid, const std::string& SwfName) {
  TPlayerSettings s;
  static const uint8_t swf[] = {'F', 'W', 'S'};
  s.GUID = Guid;
  s.Movie = TMovieItem{{swf, 3}, Guid, SwfName};
  return s;
}

}  // namespace

TEST(PlanExtraction, MovieAndNeedFilesInTheCreatedFolder) {
  static const uint8_t xml[] = {'<'};
  TPlayerSettings s = WithMovie("G", "movies\\m.swf");
  s.NeedFiles = {{3, "sub\\data.xml", {xml, 1}}, {4, "nodata.xml", {}}, {5, "", {xml, 1}},
                 {6, "..", {xml, 1}}};
  EXPECT_EQ(MovieFolder(s, "/tmp/t", IsSingleByteLeadByte, '/'), std::optional<std::string>("/tmp/t/G"));
  const TExtractionPlan p = PlanExtraction(s, "/tmp/t", true, IsSingleByteLeadByte, '/');
  EXPECT_EQ(p.MoviePath, "/tmp/t/G/m.swf");
  EXPECT_EQ(p.FolderToDelete, "/tmp/t/G");
  ASSERT_EQ(p.Files.size(), 2u);
  EXPECT_EQ(p.Files[0].Path, "/tmp/t/G/m.swf");
  EXPECT_EQ(p.Files[0].Block.Size, 3);
  EXPECT_TRUE(p.Files[0].ReplaceExisting);
  EXPECT_EQ(p.Files[1].Path, "/tmp/t/G/data.xml");
  EXPECT_TRUE(p.Files[1].ReplaceExisting);
  ASSERT_EQ(p.Refused.size(), 1u);  // the ".." need file
  EXPECT_NE(p.Refused[0].find("need file 6"), std::string::npos);

  EXPECT_EQ(PlanExtraction(WithMovie("G", ""), "C:\\T\\", true, IsSingleByteLeadByte, '\\').MoviePath, "C:\\T\\G\\G.swf");
  // No movie name at all is the usual case, not a refused name.
  EXPECT_TRUE(PlanExtraction(WithMovie("G", ""), "/t", true, IsSingleByteLeadByte, '/').Refused.empty());
  // A temporary directory ending in "表" does not end in a separator.
  EXPECT_EQ(PlanExtraction(WithMovie("G", ""), "C:\\\x95\x5C", true, IsShiftJisLeadByte, '\\').MoviePath,
            "C:\\\x95\x5C\\G\\G.swf");
  const TExtractionPlan refusedName = PlanExtraction(WithMovie("G", "a\\.."), "/t", true, IsSingleByteLeadByte, '/');
  EXPECT_EQ(refusedName.MoviePath, "/t/G/G.swf");
  EXPECT_EQ(refusedName.Refused.size(), 1u);
}

TEST(PlanExtraction, BesideTheFolderWhenItWasNotCreated) {
  static const uint8_t xml[] = {'<'};
  TPlayerSettings s = WithMovie("G", "named.swf");
  s.NeedFiles = {{0, "d.xml", {xml, 1}}};
  const TExtractionPlan p = PlanExtraction(s, "/t", false, IsSingleByteLeadByte, '/');
  EXPECT_EQ(p.MoviePath, "/t/G.swf");  // whatever "FlashSwfName" says
  EXPECT_EQ(p.FolderToDelete, "");
  ASSERT_EQ(p.Files.size(), 2u);
  EXPECT_EQ(p.Files[1].Path, "/t/d.xml");
  EXPECT_FALSE(p.Files[0].ReplaceExisting);
  EXPECT_FALSE(p.Files[1].ReplaceExisting);
}

TEST(PlanExtraction, NeverLeavesTheTemporaryDirectory) {
  // An empty GUID: no folder, the movie beside as ".swf", nothing to delete.
  TPlayerSettings empty = WithMovie("", "x.swf");
  EXPECT_FALSE(MovieFolder(empty, "/t", IsSingleByteLeadByte, '/'));
  TExtractionPlan p = PlanExtraction(empty, "/t", false, IsSingleByteLeadByte, '/');
  EXPECT_EQ(p.MoviePath, "/t/.swf");
  EXPECT_EQ(p.FolderToDelete, "");

  // Hostile GUIDs: no folder, no file, a reason for the user.
  for (const char* guid : {"..", ".", "..\\..\\x", "a/../../x", "C:\\x", "CON", "x\n", "a/b"}) {
    const TPlayerSettings s = WithMovie(guid, "m.swf");
    EXPECT_FALSE(MovieFolder(s, "/t", IsSingleByteLeadByte, '/')) << guid;
    p = PlanExtraction(s, "/t", true, IsSingleByteLeadByte, '/');
    EXPECT_TRUE(p.Files.empty()) << guid;
    EXPECT_EQ(p.FolderToDelete, "") << guid;
    EXPECT_EQ(p.Refused.size(), 1u) << guid;
  }

  // Hostile movie and need-file names land directly in the folder or nowhere.
  static const uint8_t b[] = {1};
  TPlayerSettings s = WithMovie("G", "..\\..\\evil.swf");
  int index = 0;
  for (const char* name : {"..\\..\\x", "C:\\x", "a/../../y", "/etc/z", "NUL", "..", "c:..", "d:/"})
    s.NeedFiles.push_back({index++, name, {b, 1}});
  p = PlanExtraction(s, "/t", true, IsSingleByteLeadByte, '/');
  for (const TPlannedFile& f : p.Files) {
    ASSERT_EQ(f.Path.rfind("/t/G/", 0), 0u) << f.Path;
    EXPECT_EQ(f.Path.find('/', 5), std::string::npos) << f.Path;
    EXPECT_EQ(f.Path.find(".."), std::string::npos) << f.Path;
  }
  EXPECT_EQ(p.MoviePath, "/t/G/evil.swf");
  EXPECT_EQ(p.Files.size(), 5u);  // evil.swf, x (twice), y, z
}

TEST(PlanExtraction, NoMovieNoFiles) {
  static const uint8_t b[] = {1};
  TPlayerSettings s;
  s.GUID = "G";
  s.NeedFiles = {{0, "d.xml", {b, 1}}};
  EXPECT_FALSE(MovieFolder(s, "/t"));
  const TExtractionPlan p = PlanExtraction(s, "/t", true);
  EXPECT_TRUE(p.Files.empty());
  EXPECT_EQ(p.MoviePath, "");
  EXPECT_EQ(p.FolderToDelete, "");
}

// ---------------------------------------------------------------- checks

TEST(PackageCheck, EveryItemThePlayerIgnoresOrMisreadsIsNamed) {
  Items items;
  items.Text("GUID", "{G}")                       // 0
      .Text("FlashSwfName", "m.swf")              // 1
      .Text("FlashNeedFileName0", "early.xml")    // 2: before the count
      .Int("FlashNeedFileCount", 3)               // 3
      .Text("FlashNeedFileName1", "a.xml")        // 4: a name, no data
      .Text("FlashNeedFileData2", "x")            // 5: data, no name
      .Text("FlashNeedFileName5", "b.xml")        // 6: outside the table
      .Flag("flashloop", 1)                       // 7: letter case
      .Add("FlashLoop", {})                       // 8: too short
      .Add("FlashQuality", {1, 2})                // 9: too short
      .Text("FlashSwf", "GIF89a, no movie")       // 10: no SWF
      .Text("GUID", "{H}")                        // 11: after the movie, and again
      .Text("FlashSwfName", "x.swf")              // 12: after the movie, and again
      .Text("DialogImage", "BM, but no bitmap")   // 13
      .Text("FlashVersion", "9,0,124,0")          // 14
      .Text("FlashNeedFileName0", "sub\\c.xml")   // 15: folders dropped
      .Text("FlashNeedFileData0", "c")            // 16
      .Text("Frobnicate", "1")                    // 17
      .Text("FlashNeedFileNamex", "y")            // 18: no slot number
      .Text("flashneedfiledata0", "z")            // 19: letter case
      .Text("FlashVars", "a=1")                   // 20: given again
      .Text("FlashVars", "a=2");                  // 21
  const auto lines = items.Check();
  const std::vector<std::string> expected = {
      "0: \"GUID\" is given again at item 11: the later one wins",
      "1: \"FlashSwfName\" is given again at item 12: the later one wins",
      "2: comes before any \"FlashNeedFileCount\" gives the need-file table a slot: ignored",
      "4: need-file slot 1 has a name but no data: not written",
      "5: need-file slot 2 has data but no name: not written",
      "6: slot 5 lies outside the need-file table of 3 slots: ignored",
      "7: differs from the key \"FlashLoop\" only in letter case: ignored",
      "8: holds 0 bytes, too short for a flag (1 byte): ignored",
      "9: holds 2 bytes, too short for an int32 (4 bytes): ignored",
      "10: is no SWF movie (it starts with neither FWS, CWS nor ZWS): nothing plays",
      "11: comes after \"FlashSwf\" (item 10): the movie was already named with the value before it",
      "12: comes after \"FlashSwf\" (item 10): the movie was already named with the value before it",
      "13: is no bitmap the dialog can show (",
      "14: \"9,0,124,0\" is no dotted version like 9.0.124.0: the version check reads what is not a number as 0",
      "15: \"sub\\c.xml\" names folders: only \"c.xml\" is used, beside the movie",
      "17: is no key the player knows: ignored",
      "18: \"FlashNeedFileName\" is followed by \"x\", not a slot number of 0 or more: ignored",
      "19: differs from \"FlashNeedFileData0\" only in letter case: ignored",
      "20: \"FlashVars\" is given again at item 21: the later one wins",
  };
  ASSERT_EQ(lines.size(), expected.size()) << testing::PrintToString(lines);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(0, expected[i].size()), expected[i]);
  EXPECT_EQ(lines[12].substr(lines[12].size() - 13), "): no picture");
}

TEST(PackageCheck, TheMovieItsNamesAndNeedFiles) {
  const auto swf = TinySwf();
  // A sound package gives nothing to report; a Shift-JIS name whose second
  // byte is a backslash is one file name.
  Items clean;
  clean.Text("GUID", "{6B1C2F4E}")
      .Text("FlashSwfName", "movie.swf")
      .Add("FlashSwf", swf)
      .Text("FlashVersion", "9.0.124.0")
      .Add("DialogImage", TinyBitmap())
      .Int("FlashNeedFileCount", 2)
      .Text("FlashNeedFileName1", "\x95\x5C.xml")
      .Text("FlashNeedFileData1", "<x/>")
      .Flag("FlashLoop", 2);
  EXPECT_EQ(clean.Check(), std::vector<std::string>{});

  auto check = [&](Items& I) { return I.Check(); };
  Items hostile, noGuid, emptyGuid, noMovie, badNames, emptyItems;
  hostile.Text("GUID", "..\\x").Add("FlashSwf", swf);
  EXPECT_EQ(check(hostile), std::vector<std::string>{"0: \"..\\x\" is not a plain folder name: the movie is not extracted"});
  noGuid.Add("FlashSwf", swf).Text("GUID", "{late}");
  EXPECT_EQ(check(noGuid),
            (std::vector<std::string>{
                "0: comes with no GUID before it: the movie is written straight into the temporary directory as \".swf\"",
                "1: comes after \"FlashSwf\" (item 0): the movie was already named with the value before it"}));
  emptyGuid.Text("GUID", "").Add("FlashSwf", swf);
  EXPECT_EQ(check(emptyGuid), std::vector<std::string>{"0: is empty: the movie gets no folder of its own and no name"});
  noMovie.Int("FlashNeedFileCount", 1).Text("FlashNeedFileName0", "a").Text("FlashNeedFileData0", "x");
  EXPECT_EQ(check(noMovie), std::vector<std::string>{"-1: no \"FlashSwf\" item: there is no movie to play, and need "
                                                     "files are written only beside it"});
  EXPECT_EQ(Items().Check(), std::vector<std::string>{"-1: no \"FlashSwf\" item: there is no movie to play"});
  badNames.Text("GUID", "G")
      .Text("FlashSwfName", "dir\\..")
      .Add("FlashSwf", swf)
      .Int("FlashNeedFileCount", 1)
      .Text("FlashNeedFileName0", "nul.txt")
      .Text("FlashNeedFileData0", "x");
  EXPECT_EQ(check(badNames), (std::vector<std::string>{
                                 "1: \"dir\\..\" is not a file name: the movie is named after the GUID",
                                 "4: \"nul.txt\" is not a file name: not written"}));
  emptyItems.Text("GUID", "G").Add("FlashSwf", {}).Add("DialogImage", {}).Int("FlashNeedFileCount", 1)
      .Text("FlashNeedFileName0", "a.xml").Add("FlashNeedFileData0", {});
  EXPECT_EQ(check(emptyItems), (std::vector<std::string>{"1: is empty: there is no movie to play",
                                                        "2: is empty: the dialog shows no picture",
                                                        "5: need-file slot 0 has no bytes in its data item: not written"}));
}

TEST(PackageCheck, SlotsDroppedOrFilledTwice) {
  Items items;
  items.Int("FlashNeedFileCount", 10)
      .Text("FlashNeedFileName7", "seven.xml")
      .Text("FlashNeedFileData7", "7")
      .Text("FlashNeedFileName2", "two.xml")
      .Text("FlashNeedFileName2", "deux.xml")
      .Text("FlashNeedFileData2", "2")
      .Int("FlashNeedFileCount", 5);
  EXPECT_EQ(items.Check(), (std::vector<std::string>{
                               "-1: no \"FlashSwf\" item: there is no movie to play, and need files are written only "
                               "beside it",
                               "0: \"FlashNeedFileCount\" is given again at item 6: the later one wins",
                               "1: slot 7 is dropped by \"FlashNeedFileCount\" 5 at item 6: ignored",
                               "2: slot 7 is dropped by \"FlashNeedFileCount\" 5 at item 6: ignored",
                               "3: slot 2 gets its name again from item 4: the later one wins"}));
}
