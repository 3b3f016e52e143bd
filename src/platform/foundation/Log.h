#pragma once
// The platform log: one line per message on standard error, in the platform's layout
// ("2026-12-07 07:03:51.123 <process>[<pid>:<thread>] <message>"). Tests capture the bare
// messages through LogCapture to assert exact lines.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace pf {

// Writes one message. Thread-safe.
void logLine(std::string_view message);

// While alive, every message also lands in lines() (without the date and process prefix);
// with echo off (the default) nothing reaches standard error. Captures nest.
class LogCapture {
 public:
  explicit LogCapture(bool echo = false);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  bool contains(std::string_view fragment) const;
  void clear();

 private:
  friend void logLine(std::string_view message);
  void add(std::string_view message);

  bool echo_;
  LogCapture* previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace pf
