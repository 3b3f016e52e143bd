#pragma once
// The application's home folder with the platform's layout: Documents, Library, Library/Caches,
// Library/Preferences and tmp. The home is the folder named by the environment variable FX_HOME,
// or one set through setHome() (tests give each test its own), or else
// $XDG_DATA_HOME/fxclient (~/.local/share/fxclient). The standard folders are created when the
// home is first used.

#include <filesystem>

namespace pf {

class Sandbox {
 public:
  static constexpr const char* kHomeVariable = "FX_HOME";

  static std::filesystem::path home();
  // Makes `path` the home (created with its standard folders); an empty path returns to the
  // environment's or the default home.
  static void setHome(const std::filesystem::path& path);

  static std::filesystem::path documents();
  static std::filesystem::path library();
  static std::filesystem::path caches();
  static std::filesystem::path preferences();
  // The temporary folder (the platform's NSTemporaryDirectory).
  static std::filesystem::path tmp();
};

}  // namespace pf
