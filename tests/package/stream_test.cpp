// Typed stream reads: byte order, sign, and short reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "package/stream.h"
#include "package/stream_utils.h"
#include "tests/support/package_builder.h"

TEST(StreamReads, LittleEndianSignedValues) {
  TMemoryStream s(std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                       0x07, 0x88, 0xAB});
  EXPECT_EQ(ReadInteger(s), -2);
  EXPECT_EQ(ReadInt64(s), static_cast<int64_t>(0x8807060504030201ULL));
  EXPECT_EQ(ReadByte(s), 0xAB);
  EXPECT_THROW(ReadByte(s), EReadError);
}

TEST(StreamReads, StringsAreCountedAndBounded) {
  TByteWriter w;
  w.I32(3).Raw("abc").I32(0).I32(-4).I32(100).Raw("short");
  TMemoryStream s(w.Out);
  std::string str = "old";
  ReadString(s, str);
  EXPECT_EQ(str, "abc");
  ReadString(s, str);
  EXPECT_EQ(str, "");
  ReadString(s, str);
  EXPECT_EQ(str, "");
  EXPECT_THROW(ReadString(s, str), EReadError);  // 100 announced, 5 there
}

TEST(StreamReads, SeekBeforeStartFails) {
  TMemoryStream s(Bytes("abcd"));
  EXPECT_THROW(s.Seek(-5, TSeekOrigin::soEnd), EReadError);
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::soEnd), 3);
  EXPECT_EQ(ReadByte(s), 'd');
}

TEST(FileStream, OnlyExistingFilesOpen) {
  EXPECT_THROW(TFileReadStream("/nonexistent/file"), EFOpenError);
#ifndef _WIN32
  // A directory or a FIFO is refused at once, never read or waited on.
  const auto dir = std::filesystem::temp_directory_path() / ("pl_stream_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const auto& [path, kind] : {std::pair{dir.string(), "a directory"}, std::pair{fifo, "a FIFO"}}) {
    try {
      TFileReadStream s(path);
      ADD_FAILURE() << path << " opened";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(std::string(e.what()), path + ": " + kind + ", not a file to read");
    }
  }
  std::filesystem::remove_all(dir);
#endif
  TTempFile f(Bytes("xyz"));
  TFileReadStream s(f.Path);
  EXPECT_EQ(s.Size(), 3);
  s.Seek(-1, TSeekOrigin::soEnd);
  EXPECT_EQ(ReadByte(s), 'z');
}

// A lent view covers exactly the bytes asked for and moves the position past
// them; what does not fit is refused and leaves the position alone. Files
// lend on Windows only.
TEST(StreamViews, LendExactlyTheBytesThatAreThere) {
  TTempFile f(Bytes("uvwxyz"));
  TFileReadStream file(f.Path);
  TMemoryStream memory(Bytes("uvwxyz"));
  for (TStream* s : {static_cast<TStream*>(&memory), static_cast<TStream*>(&file)}) {
    s->Seek(1, TSeekOrigin::soBeginning);
    const uint8_t* v = s->View(3);
#ifndef _WIN32
    if (s == &file) {
      EXPECT_EQ(v, nullptr);
      EXPECT_EQ(s->Position(), 1);
      continue;
    }
#endif
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v), 3), "vwx");
    EXPECT_EQ(s->Position(), 4);
    EXPECT_EQ(s->View(3), nullptr);
    EXPECT_EQ(s->Position(), 4);
    EXPECT_EQ(s->View(-1), nullptr);
    const uint8_t* rest = s->View(2);
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(rest[1], 'z');
    EXPECT_EQ(s->Position(), 6);
  }
  TTempFile empty(std::vector<uint8_t>{});
  TFileReadStream none(empty.Path);
  EXPECT_EQ(none.View(0), nullptr);  // an empty file has no mapping
}
