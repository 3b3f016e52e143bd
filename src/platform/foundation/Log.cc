#include "platform/foundation/Log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace pf {
namespace {

Mutex& captureMutex() {
  static Mutex m;
  return m;
}
LogCapture* gCapture PF_GUARDED_BY(captureMutex()) = nullptr;

std::string processName() {
  char buf[256];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "app";
  std::string path(buf, static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void writeToStderr(std::string_view message) {
  using namespace std::chrono;
  auto now = system_clock::now();
  auto secs = system_clock::to_time_t(now);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&secs, &tm);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  static const std::string name = processName();
  std::string line = std::string(stamp) + "." + (ms < 100 ? (ms < 10 ? "00" : "0") : "") + std::to_string(ms) + " " +
                     name + "[" + std::to_string(getpid()) + ":" + std::to_string(syscall(SYS_gettid)) + "] ";
  line.append(message);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void logCurrentException(std::string_view where) {
  std::string line = "*** uncaught exception in ";
  line += where;
  try {
    throw;
  } catch (const std::exception& e) {
    line += ": ";
    line += e.what();
  } catch (...) {
  }
  try {
    logLine(line);
  } catch (...) {
  }
}

std::function<void(std::string_view)>& uncaughtObserver() {
  static std::function<void(std::string_view)> observer;
  return observer;
}

std::function<void(std::string_view line)> setUncaughtExceptionObserver(
    std::function<void(std::string_view line)> observer) {
  MutexLock lock(captureMutex());
  std::swap(uncaughtObserver(), observer);
  return observer;
}

void logLine(std::string_view message) {
  bool echo = true;
  std::function<void(std::string_view)> observer;
  {
    MutexLock lock(captureMutex());
    if (gCapture) {
      gCapture->add(message);
      echo = gCapture->echo_;
    } else if (message.starts_with("*** uncaught exception")) {
      observer = uncaughtObserver();
    }
  }
  if (echo) writeToStderr(message);
  if (observer) observer(message);
}

LogCapture::LogCapture(bool echo) : echo_(echo) {
  MutexLock lock(captureMutex());
  previous_ = gCapture;
  gCapture = this;
}

LogCapture::~LogCapture() {
  MutexLock lock(captureMutex());
  gCapture = previous_;
}

void LogCapture::add(std::string_view message) {
  MutexLock lock(mutex_);
  lines_.emplace_back(message);
}

std::vector<std::string> LogCapture::lines() const {
  MutexLock lock(mutex_);
  return lines_;
}

bool LogCapture::contains(std::string_view fragment) const {
  MutexLock lock(mutex_);
  for (const auto& l : lines_)
    if (l.find(fragment) != std::string::npos) return true;
  return false;
}

void LogCapture::clear() {
  MutexLock lock(mutex_);
  lines_.clear();
}

}  // namespace pf
