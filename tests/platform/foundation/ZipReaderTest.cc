// The zip reader against archives written by Python's zipfile and by hand
// (tests/container/peers/make_archives.py): every structural fault is refused for its own reason,
// and the well-formed archives other tools write are read with their decoded names.

#include "platform/foundation/ZipReader.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "container/peers/TestArchives.h"
#include "platform/foundation/FileManager.h"

namespace pf {
namespace {

std::filesystem::path archive(const std::string& kind) { return fxtest::testArchive(kind); }

TEST(ZipReaderTest, EveryFaultRefusesTheArchiveForItsOwnReason) {
  struct Case {
    const char* kind;
    std::int64_t code;
    const char* reason;  // a part of the refusal's description
  };
  const Case cases[] = {
      {"undercount", kZipCorrupt, "counts 2 entries, the central directory holds 3"},
      {"overcount", kZipCorrupt, "counts 4 entries"},
      {"zip64-undercount", kZipCorrupt, "counts 2 entries, the central directory holds 3"},
      {"directory-size", kZipCorrupt, "does not end where the end record begins"},
      {"hidden-first-entry", kZipCorrupt, "bytes before the first entry"},
      {"many-undercounted", kZipTooManyEntries, "too many"},
      {"empty", kZipNoFiles, "no file"},
      {"folders-only", kZipNoFiles, "no file"},
      {"flagged-not-utf8", kZipBadEntryName, "UTF-8"},
      {"flagged-overlong", kZipBadEntryName, "UTF-8"},
      {"case-duplicate", kZipDuplicateEntry, "duplicate"},
      {"case-folder", kZipDuplicateEntry, "duplicate"},
      {"drive", kZipBadEntryName, "unsafe"},
      {"colon", kZipBadEntryName, "unsafe"},
      {"overlap", kZipCorrupt, "overlap"},
      {"folder-data", kZipCorrupt, "folder entry carries data"},
      {"comment-past-end", kZipCorrupt, "comment does not end with the file"},
      {"prefix", kZipCorrupt, "does not end where the end record begins"},
      {"prefix-shifted", kZipCorrupt, "bytes before the first entry"},
      {"local-name", kZipCorrupt, "names another entry"},
      {"local-method", kZipCorrupt, "method differs"},
      {"local-size", kZipCorrupt, "sizes differ"},
      {"descriptor-crc", kZipCorrupt, "data descriptor differs"},
      // Deep names and folder floods, refused before anything is made.
      {"deep-65", kZipBadEntryName, "more than 64 components"},
      {"deep-names", kZipBadEntryName, "more than 64 components"},
      {"folder-flood", kZipTooManyEntries, "too many entries and folders"},
      // The Unicode path field's name meets every rule; it must be UTF-8.
      {"unicode-path-traversal", kZipBadEntryName, "unsafe"},
      {"unicode-path-case", kZipDuplicateEntry, "duplicate"},
      {"unicode-path-not-utf8", kZipBadEntryName, "Unicode path is not valid UTF-8"},
      // Names equal once composed alike, as files and as folders.
      {"normalization-duplicate", kZipDuplicateEntry, "duplicate"},
      {"normalization-folder", kZipDuplicateEntry, "duplicate"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    Error error;
    EXPECT_TRUE(ZipReader::entries(archive(c.kind), {}, &error).empty());
    EXPECT_EQ(error.code, c.code);
    EXPECT_NE(error.localizedDescription().find(c.reason), std::string::npos) << error.localizedDescription();
    fxtest::TempDir out;
    EXPECT_FALSE(ZipReader::unpack(archive(c.kind), out.path(), {}, &error));
    EXPECT_TRUE(std::filesystem::is_empty(out.path()));
  }
  // What is no regular file is refused at once, never waited on: a FIFO nobody writes, a folder.
  fxtest::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.zip").c_str(), 0600), 0);
  for (const auto& path : {dir / "pipe.zip", dir.path()}) {
    SCOPED_TRACE(path);
    Error error;
    EXPECT_TRUE(ZipReader::entries(path, {}, &error).empty());
    EXPECT_EQ(error.code, kZipNotAnArchive);
    fxtest::TempDir out;
    EXPECT_FALSE(ZipReader::unpack(path, out.path(), {}, &error));
    EXPECT_EQ(error.code, kZipNotAnArchive);
  }
}

TEST(ZipReaderTest, WellFormedArchivesOfOtherToolsAreReadWithDecodedNames) {
  struct Case {
    const char* kind;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"zip64", {"index.html", "js/app.js"}},
      {"python-zip64", {"index.html", "img/a.txt"}},
      {"max-comment", {"index.html"}},
      // CP437 without the UTF-8 flag, UTF-8 without it, UTF-8 with it.
      {"legacy-names", {"café.html", "中文.html", "页/新.html"}},
      {"descriptors", {"index.html", "js/app.js"}},
      {"folders", {"d/", "e/", "d/x.html"}},
      // The Unicode path field's name where it was written for the name bytes (of version 1).
      {"unicode-path", {"页面/首页.html", "╛╔.html", "v2.html"}},
      {"empty-deflated", {"index.html", "empty.txt"}},
      {"gaps", {"index.html", "js/app.js"}},
      {"descriptor-local-other", {"index.html"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    Error error;
    std::vector<std::string> names;
    for (const auto& entry : ZipReader::entries(archive(c.kind), {}, &error)) names.push_back(entry.name);
    EXPECT_EQ(names, c.names) << error.localizedDescription();
    fxtest::TempDir out;
    EXPECT_TRUE(ZipReader::unpack(archive(c.kind), out.path(), {}, &error)) << error.localizedDescription();
  }
  // The zip64 sizes are the real ones: the stored entry's 1,000 bytes, not the placeholder.
  fxtest::TempDir out;
  ASSERT_TRUE(ZipReader::unpack(archive("zip64"), out.path()));
  EXPECT_EQ(FileManager::readFile(out / "js/app.js")->size(), 1000u);
  fxtest::TempDir empty;
  ASSERT_TRUE(ZipReader::unpack(archive("empty-deflated"), empty.path()));
  EXPECT_EQ(FileManager::readFile(empty / "empty.txt"), Bytes{});
  // The entry limit counts the entries present, and the folders names imply with them.
  ZipLimits two;
  two.maxEntries = 2;
  Error error;
  EXPECT_TRUE(ZipReader::entries(archive("legacy-names"), two, &error).empty());
  EXPECT_EQ(error.code, kZipTooManyEntries);
  ZipLimits sixtyFour;
  sixtyFour.maxEntries = 64;
  EXPECT_EQ(ZipReader::entries(archive("deep-64"), sixtyFour, &error).size(), 1u);
  sixtyFour.maxEntries = 63;
  EXPECT_TRUE(ZipReader::entries(archive("deep-64"), sixtyFour, &error).empty());
  EXPECT_EQ(error.code, kZipTooManyEntries);
}

TEST(ZipReaderTest, NamesDecodeToUtf8AndFollowOneRule) {
  // An overlong "." is refused with the UTF-8 flag and read as CP437 without it; never as ".".
  EXPECT_EQ(decodeZipEntryName("\xC0\xAE", 0x800), std::nullopt);
  EXPECT_EQ(decodeZipEntryName("\xC0\xAE", 0), "└«");
  EXPECT_EQ(decodeZipEntryName("\xED\xA0\x80", 0x800), std::nullopt);  // a surrogate
  EXPECT_EQ(decodeZipEntryName("页.html", 0), "页.html");
  EXPECT_EQ(decodeZipEntryName("\x80\xFF", 0), "Ç\u00A0");

  for (const char* bad : {"", "/a", "a/../b", "..", "a\\b", "a//b", "./a", "a/./b", "/", "C:", "c:/x", "a:b", "a\xFF"})
    EXPECT_FALSE(ZipReader::isSafeEntryName(bad)) << bad;
  EXPECT_FALSE(ZipReader::isSafeEntryName(std::string(4097, 'a')));
  for (const char* good : {"a", "a/b.html", "dir/", "..a", "a..", "中文/页.html"})
    EXPECT_TRUE(ZipReader::isSafeEntryName(good)) << good;

  fxtest::TempDir scratch;
  ASSERT_TRUE(FileManager::writeFile(scratch / "x.zip", std::string_view("PK not really"), false));
  Error error;
  EXPECT_FALSE(ZipReader::unpack(scratch / "x.zip", scratch.path(), {}, &error));
  EXPECT_EQ(error.code, kZipNotAnArchive);
}

}  // namespace
}  // namespace pf
