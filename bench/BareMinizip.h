#pragma once
// The benchmarks' baseline unpacking: minizip's own loop, no checks beyond what it does by itself.
#include <fcntl.h>
#include <unistd.h>
#include <unzip.h>

#include <cstdio>
#include <filesystem>
#include <vector>

namespace bench {

inline bool bareExtract(const std::filesystem::path& archive, const std::filesystem::path& out) {
  unzFile zip = unzOpen64(archive.c_str());
  if (!zip) return false;
  std::vector<char> buffer(64 * 1024);
  char name[1024];
  bool ok = unzGoToFirstFile(zip) == UNZ_OK;
  while (ok) {
    unz_file_info64 info{};
    ok = unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) == UNZ_OK;
    if (!ok) break;
    const std::filesystem::path target = out / name;
    std::filesystem::create_directories(target.parent_path());
    FILE* file = std::fopen(target.c_str(), "wb");
    ok = file && unzOpenCurrentFile(zip) == UNZ_OK;
    int n = 0;
    while (ok && (n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0)
      ok = std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), file) == static_cast<std::size_t>(n);
    if (file) std::fclose(file);
    ok = ok && n == 0 && unzCloseCurrentFile(zip) == UNZ_OK;
    if (ok && unzGoToNextFile(zip) != UNZ_OK) break;
  }
  unzClose(zip);
  return ok;
}

// What an unpacked tree needs to survive a power loss, as the product's install does it: one flush
// of the file system holding `tree`, then the folder that holds it.
inline bool bareFlush(const std::filesystem::path& tree) {
  bool ok = true;
  for (const auto& path : {tree, tree.parent_path()}) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && fd >= 0 && (path == tree ? ::syncfs(fd) : ::fsync(fd)) == 0;
    if (fd >= 0) ::close(fd);
  }
  return ok;
}

}  // namespace bench
