#pragma once
// Run loops: one per thread, the main one reachable from every thread.
//
// A run loop waits for and handles, in one mode at a time:
//  - sources: file-descriptor readiness (read and/or write) or a signal raised by code;
//  - timers (Timer.h);
//  - deferred calls: blocks performed in a later pass, ordered performs, delayed performs.
// An item added in kRunLoopCommonModes joins every mode of the loop's common set (the default mode
// to start with), including modes added to the set later. Adding, removing, performing, stopping
// and waking are safe from any thread; running is done by the loop's own thread only. A thread's
// run loop is torn down when the thread ends (its pending work is dropped).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Clock.h"

namespace pf {

using RunLoopMode = std::string;

// The mode names are never destroyed: threads that live for the whole process (the network
// threads) may still name a mode while the main thread runs the static destructors at exit.
inline const RunLoopMode& kDefaultRunLoopMode = *new RunLoopMode("DefaultRunLoopMode");
// Pseudo-mode naming the loop's set of common modes.
inline const RunLoopMode& kRunLoopCommonModes = *new RunLoopMode("RunLoopCommonModes");

class RunLoop;
class Timer;

namespace detail {
struct RunLoopImpl;
struct SourceMembership;
}  // namespace detail

// Readiness bits of a file-descriptor source.
enum RunLoopEvents : std::uint32_t {
  kRunLoopRead = 1u << 0,
  kRunLoopWrite = 1u << 1,
  // Reported (with the interest bits that apply) on error or hang-up of the descriptor.
  kRunLoopError = 1u << 2,
  kRunLoopHangUp = 1u << 3,
};

// A run-loop source. Either watches a file descriptor (level-triggered: readiness that arrives
// while the loop runs a mode without the source stays pending until a mode with it runs), or is
// signalled by code (signal() then the loop's next pass in one of its modes calls the callback once).
// A source may be in several modes of one run loop. The source does not own the descriptor.
class RunLoopSource : public std::enable_shared_from_this<RunLoopSource> {
 public:
  using FdCallback = std::function<void(RunLoopSource& source, std::uint32_t events)>;
  using SignalCallback = std::function<void(RunLoopSource& source)>;

  // Watches `fd` for the readiness in `events` (kRunLoopRead | kRunLoopWrite).
  static std::shared_ptr<RunLoopSource> makeFd(int fd, std::uint32_t events, FdCallback callback);
  // A source fired by signal().
  static std::shared_ptr<RunLoopSource> makeSignal(SignalCallback callback);

  ~RunLoopSource();
  RunLoopSource(const RunLoopSource&) = delete;
  RunLoopSource& operator=(const RunLoopSource&) = delete;

  int fd() const { return fd_; }
  bool isSignal() const { return fd_ < 0; }
  // Changes the readiness watched (e.g. drop kRunLoopWrite while nothing waits to be written).
  // Thread-safe.
  void setEvents(std::uint32_t events);
  std::uint32_t events() const;

  // Marks a signal source pending and wakes its run loop. Thread-safe.
  void signal();
  bool isSignalled() const;

  // Removes the source from every mode of its run loop and drops the callback. Thread-safe; the
  // callback is not called after invalidate() returns on the loop's thread.
  void invalidate();
  bool isValid() const;

 private:
  RunLoopSource() = default;
  friend struct detail::RunLoopImpl;
  friend class RunLoop;
  friend struct detail::SourceMembership;

  int fd_ = -1;
  std::shared_ptr<detail::SourceMembership> state_;
};

// How a run in one mode ended.
enum class RunLoopResult {
  Finished,       // the mode has no sources, timers or deferred calls
  Stopped,        // stop() was called
  TimedOut,       // the limit date was reached
  HandledSource,  // a source was handled and the caller asked to return after one
};

class RunLoop : public std::enable_shared_from_this<RunLoop> {
 public:
  // The calling thread's run loop (made on first use).
  static std::shared_ptr<RunLoop> current();
  // The main thread's run loop (the main thread is the process's first thread: in tests, the
  // thread running the test body).
  static std::shared_ptr<RunLoop> main();

  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  bool isMain() const;
  // Whether this is the calling thread's run loop.
  bool isCurrent() const;

  // ---- modes
  // Adds a mode to the common set; every item in kRunLoopCommonModes joins it.
  void addCommonMode(const RunLoopMode& mode);
  std::vector<RunLoopMode> commonModes() const;
  // The mode of the innermost run in progress, on the loop's thread; nullopt when not running.
  std::optional<RunLoopMode> currentMode() const;

  // ---- sources (a source belongs to one run loop at a time)
  void addSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode);
  void removeSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode);
  bool containsSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode) const;

  // ---- timers (a timer belongs to one run loop at a time; the loop keeps it alive while it is in
  // any mode). A timer in several modes fires once per due date, in whichever runs first.
  // Removing a timer from its last mode does not invalidate it: it can be added again, here or on
  // another run loop, and keeps its fire date.
  void addTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode);
  void removeTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode);
  bool containsTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode) const;

  // ---- deferred calls (thread-safe; each wakes the loop)
  // Runs `block` in the loop's next pass in one of `modes`.
  void perform(std::function<void()> block, const std::vector<RunLoopMode>& modes = {kRunLoopCommonModes});
  // Runs `block` in the next pass in one of `modes`, before other performs of higher `order`
  // (equal orders keep their sequence). `target` and `name` identify it for cancelPerforms.
  void performOrdered(const void* target, std::string name, int order, std::function<void()> block,
                      const std::vector<RunLoopMode>& modes = {kRunLoopCommonModes});
  // Runs `block` after `delay` seconds on the clock (through a one-shot timer), in one of `modes`.
  // A delay of 0 runs it in a later pass, never at once.
  void performAfter(TimeInterval delay, const void* target, std::string name, std::function<void()> block,
                    const std::vector<RunLoopMode>& modes = {kDefaultRunLoopMode});
  // Cancels the pending ordered and delayed performs of `target` (and only those of `name`).
  void cancelPerforms(const void* target);
  void cancelPerforms(const void* target, std::string_view name);

  // ---- running (on the loop's own thread; runs may nest inside callbacks)
  // Runs `mode` until `seconds` have passed on the clock, stop(), the mode has nothing, or (when
  // asked) one source has been handled. Timers and performs do not count as sources.
  RunLoopResult runInMode(const RunLoopMode& mode, TimeInterval seconds, bool returnAfterSourceHandled = false);
  // Runs `mode` once: until one source is handled or `limitDate`. False when the mode has nothing
  // (then it returns at once).
  bool runMode(const RunLoopMode& mode, double limitDate);
  // Runs the default mode repeatedly until `limitDate` or until the mode has nothing.
  void runUntil(double limitDate);
  // Runs the default mode until it has nothing or stop() ends a run.
  void run();
  // Test helper: runs `mode` until `done()` holds or `realLimit` seconds of real time pass
  // (whatever the clock), checking after every pass. Returns done(). Virtual time does not move.
  bool spinUntil(const std::function<bool()>& done, TimeInterval realLimit = 10.0,
                 const RunLoopMode& mode = kDefaultRunLoopMode);

  // Makes the innermost run return (Stopped). Thread-safe.
  void stop();
  // Wakes the loop from its wait. Thread-safe.
  void wakeUp();
  // Whether the loop's thread is blocked waiting for something to do.
  bool isWaiting() const;

 private:
  friend struct detail::RunLoopImpl;
  friend class Timer;
  friend class RunLoopSource;
  friend struct detail::SourceMembership;
  RunLoop();
  std::unique_ptr<detail::RunLoopImpl> impl_;
};

}  // namespace pf
