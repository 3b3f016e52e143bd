// The test peers' lifetime: a peer dies with the process that started it, however that process
// ends, and not with the thread that started it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/TestSupport.h"

namespace {

// Whether process `pid` (not a child of ours) ends within `timeoutMs`.
bool endsWithin(pid_t pid, int timeoutMs) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH;
  pollfd p{fd, POLLIN, 0};
  const bool ended = ::poll(&p, 1, timeoutMs) == 1;
  ::close(fd);
  return ended;
}

// A program that starts a peer, tells its pid and is killed: this test again, in a child process.
TEST(ChildProcess, APeerDiesWithTheProcessThatStartedItWhenThatIsKilled) {
  if (std::getenv("FX_PEER_HOLDER")) {
    fxtest::ChildProcess peer({"/bin/sh", "-c", "echo $$; exec sleep infinity"});
    const auto pid = peer.readLine();
    std::printf("peer %s\n", pid.value_or("none").c_str());
    std::fflush(stdout);
    ::raise(SIGKILL);
  }
  const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
  fxtest::ChildProcess holder({"/proc/self/exe", "--gtest_filter=ChildProcess." + test}, {"FX_PEER_HOLDER=1"});
  std::optional<std::string> line;
  while ((line = holder.readLine()) && line->rfind("peer ", 0) != 0) {
  }
  ASSERT_TRUE(line) << "the holder told no peer";
  const pid_t peer = std::stoi(line->substr(5));
  EXPECT_EQ(holder.wait(), 128 + SIGKILL);
  const bool ended = endsWithin(peer, 10000);
  if (!ended) ::kill(peer, SIGKILL);
  EXPECT_TRUE(ended) << "the peer outlived its holder";
}

TEST(ChildProcess, APeerOutlivesTheThreadThatStartedIt) {
  fxtest::TempDir dir;
  const std::filesystem::path fifo = dir / "go";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::optional<fxtest::ChildProcess> peer;
  pid_t starter = 0;
  std::optional<std::string> ready;
  std::thread([&] {
    starter = ::gettid();
    peer.emplace(std::vector<std::string>{"/bin/sh", "-c", "echo ready; read x < \"$0\"; echo alive $x", fifo});
    ready = peer->readLine();  // the peer runs: what it asked of its parent's end is set
  }).join();
  EXPECT_EQ(ready, "ready");
  // Once the thread is gone from the process, whatever its end set off has been sent.
  const std::filesystem::path task = "/proc/self/task/" + std::to_string(starter);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::filesystem::exists(task) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_FALSE(std::filesystem::exists(task));
  const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // never waits for a reader
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "go\n", 3), 3);
  EXPECT_EQ(peer->readLine(), "alive go");
  ::close(writer);
  EXPECT_EQ(peer->wait(), 0);
}

}  // namespace
