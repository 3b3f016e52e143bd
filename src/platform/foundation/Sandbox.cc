#include "platform/foundation/Sandbox.h"

#include <cstdlib>
#include <mutex>
#include <system_error>

#include "platform/foundation/ThreadAnnotations.h"

namespace pf {
namespace {

Mutex gMutex;
std::filesystem::path gHome PF_GUARDED_BY(gMutex);  // empty until first use or setHome()

std::filesystem::path defaultHome() {
  if (const char* env = std::getenv(Sandbox::kHomeVariable); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "fxclient";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home) / ".local" / "share" / "fxclient";
  return std::filesystem::temp_directory_path() / "fxclient-home";
}

void createLayout(const std::filesystem::path& home) {
  std::error_code ec;
  for (const char* sub : {"Documents", "Library/Caches", "Library/Preferences", "tmp"})
    std::filesystem::create_directories(home / sub, ec);
}

}  // namespace

std::filesystem::path Sandbox::home() {
  MutexLock lock(gMutex);
  if (gHome.empty()) {
    gHome = defaultHome();
    createLayout(gHome);
  }
  return gHome;
}

void Sandbox::setHome(const std::filesystem::path& path) {
  MutexLock lock(gMutex);
  gHome = path.empty() ? defaultHome() : path;
  createLayout(gHome);
}

std::filesystem::path Sandbox::documents() { return home() / "Documents"; }
std::filesystem::path Sandbox::library() { return home() / "Library"; }
std::filesystem::path Sandbox::caches() { return home() / "Library" / "Caches"; }
std::filesystem::path Sandbox::preferences() { return home() / "Library" / "Preferences"; }
std::filesystem::path Sandbox::tmp() { return home() / "tmp"; }

}  // namespace pf
