// Any bytes as a zip archive: the reader unpacks or refuses, and nothing is ever written outside
// the destination folder (the scratch folder holds only the archive and the destination).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  static const fs::path root = [] {
    auto path = fs::temp_directory_path() / ("fuzz_zip." + std::to_string(::getpid()));
    fs::create_directories(path / "scratch");
    std::atexit([] { fs::remove_all(fs::temp_directory_path() / ("fuzz_zip." + std::to_string(::getpid()))); });
    return path;
  }();
  const fs::path scratch = root / "scratch";
  const fs::path archive = scratch / "archive.zip";
  const fs::path out = scratch / "out";
  fs::remove_all(out);
  fs::create_directories(out);
  pf::FileManager::writeFile(archive, pf::Bytes(data, data + size), false);
  pf::ZipLimits limits;
  limits.maxUnpackedBytes = 4u << 20;
  limits.maxEntries = 512;
  (void)pf::ZipReader::entries(archive, limits);
  (void)pf::ZipReader::unpack(archive, out, limits);
  std::size_t beside = 0;
  for (const auto& entry : fs::directory_iterator(scratch)) {
    (void)entry;
    ++beside;
  }
  std::size_t above = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    (void)entry;
    ++above;
  }
  if (beside != 2 || above != 1) std::abort();  // something landed outside the destination
  for (const auto& entry : fs::recursive_directory_iterator(out))
    if (entry.is_symlink()) std::abort();
  return 0;
}
