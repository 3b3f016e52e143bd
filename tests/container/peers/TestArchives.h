#pragma once
// The zip archives of make_archives.py beside this file (written by Python's zipfile or record by
// record), made once per test program.

#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/TestSupport.h"

namespace fxtest {

inline std::filesystem::path testArchive(const std::string& kind) {
  static TempDir dir;
  static const bool made = [] {
    auto script = sourceDir() / "tests/container/peers/make_archives.py";
    ChildProcess child({kPython, script.string(), dir.path().string()});
    auto line = child.readLine(60000);
    child.wait(30000);
    if (!line || *line != "ok") throw std::runtime_error("make_archives.py failed");
    return true;
  }();
  (void)made;
  return dir.path() / (kind + ".zip");
}

}  // namespace fxtest
