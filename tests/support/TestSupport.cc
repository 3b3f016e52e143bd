#include "support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/foundation/FileManager.h"

extern char** environ;

namespace fxtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "fxtest-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path sourceDir() {
  if (const char* env = std::getenv("FX_SOURCE_DIR")) return env;
  return FX_DEFAULT_SOURCE_DIR;
}

std::filesystem::path dataPath(const std::string& relative) {
  if (const char* env = std::getenv("FX_TEST_DATA")) return std::filesystem::path(env) / relative;
  return sourceDir() / "tests" / "data" / relative;
}

namespace {

// Forks every child from one thread that lasts as long as the process. A child asks the kernel
// for SIGKILL when its parent dies (PR_SET_PDEATHSIG), and the kernel sends it when the *thread*
// that forked it ends: forked from a test's worker thread, a peer would die with that thread.
class Forker {
 public:
  static Forker& instance() {
    static Forker* forker = new Forker;  // never destroyed: its thread may still wait at exit
    return *forker;
  }

  // Runs fork() on the lasting thread; `child` runs in the child (async-signal-safe calls only).
  pid_t fork(const std::function<void()>& child) {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !request_; });
    request_ = &child;
    done_ = false;
    wake_.notify_all();
    idle_.wait(lock, [&] { return done_; });
    const pid_t pid = pid_;
    request_ = nullptr;
    idle_.notify_all();
    return pid;
  }

 private:
  Forker() {
    std::thread([this] {
      std::unique_lock lock(mutex_);
      for (;;) {
        wake_.wait(lock, [&] { return request_ && !done_; });
        pid_ = ::fork();
        if (pid_ == 0) (*request_)();  // does not return
        done_ = true;
        idle_.notify_all();
      }
    }).detach();
  }

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  const std::function<void()>* request_ = nullptr;
  bool done_ = false;
  pid_t pid_ = -1;
};

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv) {
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (auto& e : extraEnv) env.push_back(e);
  std::vector<char*> cargv, cenv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  for (auto& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  const pid_t parent = ::getpid();
  // Its own process group, so that terminate() reaches what the peer starts; killed when this
  // process dies however it dies, so that no peer outlives a crashed or killed test or benchmark
  // (and holds a pipe its runner reads). What the peer starts in turn is not covered.
  const pid_t pid = Forker::instance().fork([&] {
    dup2(pipefd[1], 1);
    setpgid(0, 0);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    execve(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  });
  if (pid < 0) {
    close(pipefd[0]);
    close(pipefd[1]);
    throw std::runtime_error("fork failed");
  }
  close(pipefd[1]);
  pid_ = pid;
  out_ = pipefd[0];
}

ChildProcess::~ChildProcess() {
  terminate();
  if (out_ >= 0) close(out_);
}

std::optional<std::string> ChildProcess::readLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_ < 0) return std::nullopt;
    pollfd p{out_, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r <= 0) continue;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      if (!buffer_.empty()) {
        std::string rest;
        rest.swap(buffer_);
        return rest;
      }
      return std::nullopt;
    }
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

int ChildProcess::wait(int timeoutMs) {
  if (pid_ < 0) return status_;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      pid_ = -1;
      return status_;
    }
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      terminate();
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::terminate() {
  if (pid_ < 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int st = 0;
  waitpid(pid_, &st, 0);
  status_ = -1;
  pid_ = -1;
}

FifoFeeder::FifoFeeder(std::filesystem::path path, std::string contents)
    : path_(std::move(path)), contents_(std::move(contents)) {
  if (::mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + path_.string());
  thread_ = std::thread([this] {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(contents_.data()), contents_.size());
    while (!over_) {
      {
        // Opens only while a reader holds the other end, then writes, blocking, until every byte
        // is in or that end has closed. Once a file has taken the FIFO's place (a write that
        // replaced it), that file is left alone.
        pf::UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        const bool fifo = fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISFIFO(st.st_mode);
        const int flags = fifo ? ::fcntl(fd.get(), F_GETFL) : -1;
        if (flags >= 0 && ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) == 0)
          (void)pf::FileManager::writeAll(fd.get(), bytes);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
}

FifoFeeder::~FifoFeeder() {
  over_ = true;
  thread_.join();
}

FileSizeLimit::FileSizeLimit(unsigned long bytes) {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  previous_ = limit.rlim_cur;
  previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = bytes;
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = previous_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, previousHandler_);
}

}  // namespace fxtest
