#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"
#include "support/SyncCalls.h"
#include "support/TestSupport.h"

namespace pf {
namespace {

TEST(FileManager, CreatesListsAndRemovesTrees) {
  fxtest::TempDir dir;
  auto a = dir / "a";
  Error error;
  EXPECT_FALSE(FileManager::createDirectory(a / "b" / "c", false, &error));
  EXPECT_EQ(error.code, kFileNoSuchFileError);
  EXPECT_TRUE(FileManager::createDirectory(a / "b" / "c", true));
  EXPECT_TRUE(FileManager::createDirectory(a / "b" / "c", true));  // existing folder is fine
  EXPECT_FALSE(FileManager::createDirectory(a / "b", false, &error));
  EXPECT_EQ(error.code, kFileWriteFileExistsError);
  EXPECT_TRUE(FileManager::writeFile(a / "z.txt", std::string_view("zz"), false));
  EXPECT_TRUE(FileManager::writeFile(a / "b" / "y.txt", std::string_view("y"), true));
  EXPECT_TRUE(FileManager::isDirectory(a / "b"));
  EXPECT_FALSE(FileManager::isDirectory(a / "z.txt"));
  EXPECT_EQ(FileManager::contentsOfDirectory(a), (std::vector<std::string>{"b", "z.txt"}));
  EXPECT_EQ(FileManager::subpathsOfDirectory(a), (std::vector<std::string>{"b", "b/c", "b/y.txt", "z.txt"}));
  EXPECT_FALSE(FileManager::contentsOfDirectory(dir / "missing", &error));
  EXPECT_EQ(error.code, kFileReadNoSuchFileError);
  EXPECT_TRUE(FileManager::removeItem(a));
  EXPECT_FALSE(FileManager::fileExists(a));
  EXPECT_FALSE(FileManager::removeItem(a, &error));
  EXPECT_EQ(error.code, kFileNoSuchFileError);
  ASSERT_TRUE(error.underlying);
  EXPECT_EQ(error.underlying->domain, kPosixErrorDomain);
  EXPECT_EQ(error.userInfo[kFilePathErrorKey], a.string());
}

TEST(FileManager, MoveAndCopyRefuseAnExistingDestination) {
  fxtest::TempDir dir;
  ASSERT_TRUE(FileManager::writeFile(dir / "src", std::string_view("new"), true));
  ASSERT_TRUE(FileManager::writeFile(dir / "dst", std::string_view("old"), true));
  Error error;
  EXPECT_FALSE(FileManager::moveItem(dir / "src", dir / "dst", &error));
  EXPECT_EQ(error.code, kFileWriteFileExistsError);
  EXPECT_EQ(toString(*FileManager::readFile(dir / "dst")), "old");  // nothing lost
  EXPECT_FALSE(FileManager::copyItem(dir / "src", dir / "dst", &error));
  EXPECT_EQ(error.code, kFileWriteFileExistsError);
  EXPECT_TRUE(FileManager::copyItem(dir / "src", dir / "copy"));
  EXPECT_TRUE(FileManager::moveItem(dir / "src", dir / "moved"));
  EXPECT_FALSE(FileManager::fileExists(dir / "src"));
  EXPECT_EQ(toString(*FileManager::readFile(dir / "moved")), "new");
  EXPECT_EQ(toString(*FileManager::readFile(dir / "copy")), "new");
  // Folders copy with their contents.
  ASSERT_TRUE(FileManager::createDirectory(dir / "tree" / "sub", true));
  ASSERT_TRUE(FileManager::writeFile(dir / "tree" / "sub" / "f", std::string_view("f"), false));
  EXPECT_TRUE(FileManager::copyItem(dir / "tree", dir / "tree2"));
  EXPECT_TRUE(FileManager::fileExists(dir / "tree2" / "sub" / "f"));
}

TEST(FileManager, CreateIfAbsentNeverTruncates) {
  fxtest::TempDir dir;
  auto file = dir / "f";
  ASSERT_TRUE(FileManager::createFileIfAbsent(file));
  EXPECT_EQ(FileManager::readFile(file)->size(), 0u);
  ASSERT_TRUE(FileManager::writeFile(file, "kept", false));
  Error error;
  EXPECT_FALSE(FileManager::createFileIfAbsent(file, &error));
  EXPECT_EQ(error.code, kFileWriteFileExistsError);
  EXPECT_EQ(toString(*FileManager::readFile(file)), "kept");
  EXPECT_FALSE(FileManager::createFileIfAbsent(dir.path()));
  EXPECT_FALSE(FileManager::createFileIfAbsent(dir / "missing" / "f"));
}

TEST(FileManager, AtomicWritesReplaceWholeAndLeaveNoTemporaries) {
  fxtest::TempDir dir;
  auto file = dir / "data.bin";
  Bytes big(300000, 7);
  ASSERT_TRUE(FileManager::writeFile(file, big, true));
  ASSERT_TRUE(FileManager::writeFile(file, std::string_view("small"), true));
  EXPECT_EQ(toString(*FileManager::readFile(file)), "small");
  EXPECT_EQ(FileManager::contentsOfDirectory(dir.path()), std::vector<std::string>{"data.bin"});
  Error error;
  EXPECT_FALSE(FileManager::writeFile(dir / "no" / "such" / "dir", std::string_view("x"), true, &error));
  EXPECT_EQ(error.code, kFileNoSuchFileError);
  EXPECT_FALSE(FileManager::readFile(file, &error, 3));
  EXPECT_EQ(error.code, kFileReadTooLargeError);
  EXPECT_FALSE(FileManager::readFile(dir.path(), &error));
}

// Atomic writes flush the temporary file under its own name, then, after the rename, the folder
// that now names it.
TEST(FileManager, AtomicWritesFlushTheFileThenTheFolderAfterTheRename) {
  fxtest::TempDir dir;
  const auto folder = std::filesystem::canonical(dir.path());
  fxtest::SyncCalls sync;
  ASSERT_TRUE(FileManager::writeFile(dir / "data.bin", std::string_view("kept"), true));
  const auto calls = sync.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].kind, "fsync");
  EXPECT_EQ(calls[0].path.parent_path(), folder);
  EXPECT_TRUE(calls[0].path.filename().string().starts_with(".data.bin.")) << calls[0].path;
  EXPECT_EQ(calls[1], (fxtest::SyncCall{"fsync", folder}));

  EXPECT_TRUE(FileManager::syncFolder(dir.path()));
  EXPECT_TRUE(FileManager::syncFileSystem(dir / "data.bin"));
  EXPECT_EQ(sync.calls().back(), (fxtest::SyncCall{"syncfs", folder / "data.bin"}));
  Error error;
  EXPECT_FALSE(FileManager::syncFolder(dir / "missing", &error));
  EXPECT_EQ(error.code, kFileNoSuchFileError);
}

// What an atomic write killed before its rename leaves (its temporary file, under the name the
// writer really gives it) goes at the sweep with a log line. Names that only look alike, other
// targets' temporary files, and folders and links of the writer's shape stay.
TEST(FileManager, LeftoverSweepsRemoveOnlyTheWritersOwnTemporaryFiles) {
  fxtest::TempDir dir;
  std::filesystem::path temporary;  // the name a write of "app.plist" gives its temporary file
  {
    fxtest::SyncCalls sync;
    ASSERT_TRUE(FileManager::writeFile(dir / "app.plist", std::string_view("v1"), true));
    ASSERT_FALSE(sync.calls().empty());
    temporary = dir / sync.calls().front().path.filename();
  }
  ASSERT_NE(temporary.filename(), "app.plist");
  ASSERT_FALSE(FileManager::fileExists(temporary));
  ASSERT_TRUE(FileManager::writeFile(temporary, std::string_view("half a write"), false));
  // The writer's shape: ".app.plist" + mark + six random characters.
  const std::string name = temporary.filename().string();
  ASSERT_TRUE(name.starts_with(".app.plist"));
  const std::string mark = name.substr(10, name.size() - 16);
  const auto shaped = [&](const std::string& target, const std::string& random) { return dir / ("." + target + mark + random); };

  const std::vector<std::filesystem::path> kept{
      dir / ".app.plist.backup", dir / ".app.plist.before", dir / ".app.plist.Zq81xA",  // six characters, no mark
      shaped("other.plist", "Zq81xA"),  shaped("app.plis", "Zq81xA"),  shaped("app.plist", "Zq81x"),
      shaped("app.plist", "Zq81xA7"),   shaped("app.plist", "Zq81x_"), dir / ("app.plist" + mark + "Zq81xA")};
  for (const auto& path : kept) ASSERT_TRUE(FileManager::writeFile(path, std::string_view("kept"), false)) << path;
  ASSERT_TRUE(FileManager::createDirectory(shaped("app.plist", "F0LDER"), false));
  ASSERT_TRUE(FileManager::writeFile(dir / "outside", std::string_view("not ours"), false));
  std::filesystem::create_symlink(dir / "outside", shaped("app.plist", "L1NKED"));
  std::filesystem::create_directory_symlink(dir.path(), shaped("app.plist", "L1NKDR"));

  LogCapture log;
  std::vector<std::string> asked;
  EXPECT_EQ(FileManager::removeAtomicWriteLeftovers(dir.path(),
                                                    [&](std::string_view target) {
                                                      asked.emplace_back(target);
                                                      return target == "app.plist";
                                                    }),
            1u);
  EXPECT_FALSE(FileManager::fileExists(temporary));
  for (const auto& path : kept) EXPECT_TRUE(FileManager::fileExists(path)) << path;
  EXPECT_TRUE(FileManager::isDirectory(shaped("app.plist", "F0LDER")));
  EXPECT_TRUE(std::filesystem::is_symlink(shaped("app.plist", "L1NKED")));
  EXPECT_TRUE(std::filesystem::is_symlink(shaped("app.plist", "L1NKDR")));
  EXPECT_EQ(toString(*FileManager::readFile(dir / "outside")), "not ours");
  EXPECT_EQ(toString(*FileManager::readFile(dir / "app.plist")), "v1");
  EXPECT_EQ(log.lines(), std::vector<std::string>{"removed " + temporary.string() + ", the temporary file of an interrupted write"});
  // Only names of the writer's shape reach the caller's choice.
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{"app.plis", "app.plist", "app.plist", "app.plist", "app.plist", "other.plist"}));
}

// A tree far deeper than the descriptors a process may hold goes whole, with a wide level, files
// at every depth and a link out of it, whose target stays. Removed in a child limited to 16
// descriptors.
TEST(FileManager, RemovesTreesDeeperThanTheDescriptorLimit) {
  fxtest::TempDir dir;
  ASSERT_TRUE(FileManager::writeFile(dir / "outside", std::string_view("stays"), false));
  ASSERT_TRUE(FileManager::createDirectory(dir / "tree" / "wide", true));
  for (int i = 0; i < 50; ++i)
    ASSERT_TRUE(FileManager::createDirectory(dir / "tree" / "wide" / std::to_string(i), false));
  UniqueFd level(::open((dir / "tree").c_str(), O_RDONLY | O_DIRECTORY));
  for (int depth = 0; depth < 300 && level.get() >= 0; ++depth) {
    ASSERT_EQ(::mkdirat(level.get(), "d", 0755), 0);
    UniqueFd file(::openat(level.get(), "f", O_WRONLY | O_CREAT, 0644));
    ASSERT_GE(file.get(), 0);
    ASSERT_EQ(::symlinkat((dir / "outside").c_str(), level.get(), "link"), 0);
    level = UniqueFd(::openat(level.get(), "d", O_RDONLY | O_DIRECTORY));
  }
  ASSERT_GE(level.get(), 0);
  level.reset();

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close_range(3, ~0U, 0);
    const rlimit few{16, 16};
    ::setrlimit(RLIMIT_NOFILE, &few);
    ::_exit(FileManager::removeItem(dir / "tree") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(FileManager::fileExists(dir / "tree"));
  EXPECT_EQ(toString(*FileManager::readFile(dir / "outside")), "stays");
  // A link goes as a link, its target stays.
  ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "up").c_str()), 0);
  EXPECT_TRUE(FileManager::removeItem(dir / "up"));
  EXPECT_TRUE(FileManager::fileExists(dir / "outside"));
}

TEST(FileManager, AttributesAndExtendedAttributes) {
  fxtest::TempDir dir;
  auto file = dir / "f";
  ASSERT_TRUE(FileManager::writeFile(file, std::string_view("12345"), false));
  auto attributes = FileManager::attributesOfItem(file);
  ASSERT_TRUE(attributes);
  EXPECT_EQ(attributes->type, FileType::Regular);
  EXPECT_EQ(attributes->size, 5u);
  EXPECT_TRUE(FileManager::setModificationDate(file, 1000000000.5));
  EXPECT_DOUBLE_EQ(FileManager::attributesOfItem(file)->modificationDate, 1000000000.5);
  EXPECT_EQ(FileManager::attributesOfItem(dir.path())->type, FileType::Directory);
  EXPECT_FALSE(FileManager::attributesOfItem(dir / "missing"));

  Error error;
  if (!FileManager::setExtendedAttribute(file, "com.apple.MobileBackup", Bytes{1}, &error)) {
    GTEST_SKIP() << "no user extended attributes here: " << error.localizedDescription();
  }
  EXPECT_EQ(FileManager::extendedAttribute(file, "com.apple.MobileBackup"), Bytes{1});
  EXPECT_TRUE(FileManager::removeExtendedAttribute(file, "com.apple.MobileBackup"));
  EXPECT_FALSE(FileManager::extendedAttribute(file, "com.apple.MobileBackup"));
  EXPECT_FALSE(FileManager::setExtendedAttribute(dir / "missing", "x", Bytes{1}, &error));
  EXPECT_EQ(error.code, kFileNoSuchFileError);
}

TEST(Sandbox, LaysOutTheHomeFolders) {
  fxtest::TempDir dir;
  Sandbox::setHome(dir.path());
  EXPECT_EQ(Sandbox::home(), dir.path());
  EXPECT_EQ(Sandbox::documents(), dir / "Documents");
  EXPECT_EQ(Sandbox::caches(), dir.path() / "Library" / "Caches");
  EXPECT_EQ(Sandbox::preferences(), dir.path() / "Library" / "Preferences");
  EXPECT_EQ(Sandbox::tmp(), dir / "tmp");
  for (const auto& p : {Sandbox::documents(), Sandbox::library(), Sandbox::caches(), Sandbox::preferences(), Sandbox::tmp()})
    EXPECT_TRUE(FileManager::isDirectory(p)) << p;
  Sandbox::setHome({});
}

}  // namespace
}  // namespace pf
