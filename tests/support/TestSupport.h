#pragma once
// Helpers shared by every test executable: temporary directories, test data, child processes.

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fxtest {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// tests/data/<relative>
std::filesystem::path dataPath(const std::string& relative);
// The repository's top folder.
std::filesystem::path sourceDir();

// A child process (a test peer: python3 server, node, openssl), in a process group of its own.
// Killed with its group and reaped on destruction, and killed when this process dies (also by a
// signal), whichever thread started it. Standard output is a pipe readable line by line, so a
// peer can print its port once ready.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next line of standard output (without the newline), or nullopt at end or after timeoutMs.
  std::optional<std::string> readLine(int timeoutMs = 10000);
  // Waits for the exit status (-1 on failure to wait); kills after timeoutMs.
  int wait(int timeoutMs = 10000);
  void terminate();
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string buffer_;
  bool exited_ = false;
  int status_ = -1;
};

// A FIFO where a file is expected. Whenever a reader holds its other end, a feeder thread writes
// `contents` and closes, so a read that should never have opened it ends (and shows what it took)
// instead of hanging the test.
class FifoFeeder {
 public:
  FifoFeeder(std::filesystem::path path, std::string contents);
  ~FifoFeeder();
  FifoFeeder(const FifoFeeder&) = delete;
  FifoFeeder& operator=(const FifoFeeder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::string contents_;
  std::atomic<bool> over_{false};
  std::thread thread_;
};

// While it lives, no file of the process grows beyond `bytes` (RLIMIT_FSIZE, SIGXFSZ ignored): a
// longer write fails with EFBIG as on a full disk, whoever runs the test. Process-wide.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  unsigned long previous_ = 0;
  void (*previousHandler_)(int) = nullptr;
};

// The system's Python (Debian's python3 with its python3-* packages).
inline constexpr const char* kPython = "/usr/bin/python3";

}  // namespace fxtest
