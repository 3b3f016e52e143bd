#pragma once
// The platform log: one line per message on standard error, in the platform's layout
// ("2026-12-07 07:03:51.123 <process>[<pid>:<thread>] <message>"). Tests capture the bare
// messages through LogCapture to assert exact lines.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

// Writes one message. Thread-safe.
void logLine(std::string_view message);

// Called with every "*** uncaught exception ..." line written while no LogCapture is active (a
// caller that expects one captures the log and checks it). The test main installs one that fails
// the running test, so an exception that a boundary swallowed still reaches the tests. Answers the
// observer it replaces.
std::function<void(std::string_view line)> setUncaughtExceptionObserver(
    std::function<void(std::string_view line)> observer);

// Logs the exception being handled as "*** uncaught exception in <where>[: <what>]". Call it from a
// catch block at a boundary no exception may cross: a C library's callback, a queued block or event.
void logCurrentException(std::string_view where);

// Runs `body`; an exception it raises is logged (logCurrentException) and `onRaise` returned
// instead. For C callbacks, which must never be unwound through.
template <typename Result, typename Body>
Result callGuarded(std::string_view where, Result onRaise, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    logCurrentException(where);
    return onRaise;
  }
}

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
  mutable Mutex mutex_;
  std::vector<std::string> lines_ PF_GUARDED_BY(mutex_);
};

}  // namespace pf
