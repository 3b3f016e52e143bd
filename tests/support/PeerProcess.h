#pragma once
// A loopback peer program started for the tests that prints one line "TAG <port>" for each server
// it runs once they listen (peers/loopback_server.py's start-up protocol), and lives as long as the
// test process holds it (and never longer than the test process: see ChildProcess).

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace fxtest {

class PeerProcess {
 public:
  // Starts `argv` and reads one port line for each of `tags` (in any order), waiting up to
  // `timeoutMs` for each; throws when the peer stops printing before then.
  PeerProcess(std::vector<std::string> argv, const std::vector<std::string>& tags, int timeoutMs)
      : program_(argv.size() > 1 ? argv[1] : argv.at(0)), child_(std::move(argv)) {
    for (std::size_t i = 0; i < tags.size(); ++i) {
      auto line = child_.readLine(timeoutMs);
      if (!line) throw std::runtime_error("the peer " + program_ + " did not start");
      for (const auto& tag : tags) {
        if (line->rfind(tag + " ", 0) == 0) ports_[tag] = std::stoi(line->substr(tag.size() + 1));
      }
    }
  }

  // The port printed with `tag`; 0 when none was.
  int port(const std::string& tag) const {
    auto it = ports_.find(tag);
    return it == ports_.end() ? 0 : it->second;
  }

 private:
  std::string program_;
  ChildProcess child_;
  std::map<std::string, int> ports_;
};

}  // namespace fxtest
