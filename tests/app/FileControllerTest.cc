#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "app/FileController.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Sandbox.h"
#include "support/TestSupport.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using pf::FileManager;

class FileControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::Sandbox::setHome(home_.path());
    FileController::resetForTesting();
  }
  void TearDown() override {
    pf::Sandbox::setHome({});
    pf::Bundle::setMainPath({});
    FileController::resetForTesting();
  }
  void write(const fs::path& path, std::string_view text) {
    ASSERT_TRUE(FileManager::createDirectory(path.parent_path(), true));
    ASSERT_TRUE(FileManager::writeFile(path, text, false));
  }

  fxtest::TempDir home_;
};

TEST_F(FileControllerTest, PathsOfTheSandboxKeptOnceReadFromAnyThread) {
  std::string library = pf::Sandbox::library().string();
  std::vector<std::string> seen(4);
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) readers.emplace_back([&, i] { seen[i] = FileController::libCachePath(); });
  for (auto& r : readers) r.join();
  for (const auto& s : seen) EXPECT_EQ(s, library + "/Caches");
  EXPECT_EQ(FileController::docPath(), pf::Sandbox::documents().string());
  EXPECT_EQ(FileController::libPrefPath(), library + "/Preference");
  EXPECT_EQ(FileController::tmpPath(), library + "/tmp");
  EXPECT_EQ(FileController::libPath(), library);

  fxtest::TempDir bundle;
  pf::Bundle::setMainPath(bundle.path());
  FileController::resetForTesting();
  EXPECT_EQ(FileController::appPath(), bundle.path().string());
  write(bundle / "menu.json", "{}");
  EXPECT_EQ(FileController::resPath("menu.json"), (bundle / "menu.json").string());
  EXPECT_EQ(FileController::resPath("absent.json"), std::nullopt);
}

TEST_F(FileControllerTest, TouchCreatesMissingFoldersAndFilesNeverTruncating) {
  std::string root = home_.path().string();
  EXPECT_TRUE(FileController::touchDirectory(root + "/a/b/c"));
  EXPECT_TRUE(FileManager::isDirectory(root + "/a/b/c"));
  EXPECT_TRUE(FileController::touchDirectory(root + "/a/b/c"));

  EXPECT_TRUE(FileController::touchFile(root + "/x/y/z.txt"));
  EXPECT_EQ(FileManager::readFile(root + "/x/y/z.txt")->size(), 0u);
  write(root + "/kept.txt", "kept");
  EXPECT_TRUE(FileController::touchFile(root + "/kept.txt"));
  EXPECT_EQ(pf::toString(*FileManager::readFile(root + "/kept.txt")), "kept");

  EXPECT_FALSE(FileController::touchDirectory(root + "/kept.txt"));  // a file is no folder
  EXPECT_FALSE(FileController::touchFile(root + "/a/b"));            // a folder is no file
  EXPECT_FALSE(FileController::touchFile(""));
  EXPECT_FALSE(FileController::touchFile("relative.txt"));
  EXPECT_FALSE(FileController::touchFile(root + "/kept.txt/inner"));
}

TEST_F(FileControllerTest, FileDigestsInLowerCaseOverChunksOfRegularFilesOnly) {
  std::string path = (home_ / "big.bin").string();
  std::string contents(20000, 'q');
  write(path, contents);
  EXPECT_EQ(FileController::fileMD5(path), "aa42e4a1a1c3fd6d37be94a7a0b23c59");
  write(home_ / "abc", "abc");
  EXPECT_EQ(FileController::tnqGetFileMD5WithPath((home_ / "abc").string()), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(FileController::fileMD5((home_ / "missing").string()), std::nullopt);
  EXPECT_EQ(FileController::fileMD5(home_.path().string()), std::nullopt);  // a folder does not read
  // Neither does a FIFO (its feeder would hand a blocking read "abc") nor a device.
  fxtest::FifoFeeder fifo(home_ / "fifo", "abc");
  EXPECT_EQ(FileController::fileMD5(fifo.path().string()), std::nullopt);
  EXPECT_EQ(FileController::fileMD5("/dev/null"), std::nullopt);
}

TEST_F(FileControllerTest, ListingsWalkRealFoldersButNeverLinkedOnes) {
  fs::path root = home_ / "tree";
  write(root / "a.zip", "1");
  write(root / "b.txt", "2");
  write(root / "sub" / "c.zip", "3");
  write(root / "sub" / "deeper" / "d.zip", "4");
  write(root / "z.zip", "5");
  fs::create_directory_symlink(root, root / "sub" / "loop");  // would recurse for ever
  fs::create_symlink(root / "b.txt", root / "link.zip");
  std::string r = root.string();

  EXPECT_EQ(FileController::allFilesAtPath(r, "zip", false),
            (std::vector<std::string>{r + "/a.zip", r + "/link.zip", r + "/z.zip"}));
  EXPECT_EQ(FileController::allFilesAtPath(r, "zip", true),
            (std::vector<std::string>{r + "/a.zip", r + "/link.zip", r + "/sub/c.zip", r + "/sub/deeper/d.zip",
                                      r + "/z.zip"}));
  auto all = FileController::allFilesAtPath(r, true);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 6u);
  EXPECT_EQ(FileController::allFilesAtPath(r, false)->size(), 4u);
  EXPECT_EQ(FileController::allFilesAtPath(r + "/none", true), std::nullopt);
}

TEST_F(FileControllerTest, SizesCountFilesBelowFoldersWithoutFollowingLinks) {
  fs::path root = home_ / "sized";
  write(root / "a", std::string(1000, 'a'));
  write(root / "sub" / "b", std::string(5000, 'b'));
  fs::create_directory_symlink(home_.path(), root / "sub" / "up");
  std::uint64_t linkSize = fs::read_symlink(root / "sub" / "up").string().size();
  EXPECT_EQ(FileController::sizeAtPath(root.string(), false), 6000u + linkSize);
  EXPECT_EQ(FileController::sizeAtPath((root / "a").string(), false), 1000u);
  EXPECT_GE(FileController::sizeAtPath(root.string(), true), 4096u);
  EXPECT_EQ(FileController::sizeAtPath((root / "missing").string(), false), 0u);
}

TEST_F(FileControllerTest, BackupMarkOnExistingFilesOnly) {
  fs::path file = home_ / "Documents" / "db.sqlite";
  write(file, "db");
  ASSERT_TRUE(FileController::skipFileBackupForItemAtURL(pf::Url::fileUrl(file)));
  auto mark = FileManager::extendedAttribute(file, FileController::kBackupAttribute);
  ASSERT_TRUE(mark);
  EXPECT_EQ(*mark, pf::Bytes{1});
  EXPECT_FALSE(FileController::skipFileBackupForItemAtURL(pf::Url::fileUrl(home_ / "none")));
  EXPECT_FALSE(FileController::skipFileBackupForItemAtURL(*pf::Url::parse("http://h/x")));
}

}  // namespace
}  // namespace app
