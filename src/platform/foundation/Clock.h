#pragma once
// The one clock of the process: every timer, delay, time-out, sleep and "current date" reads it.
//
// Real time: dates come from the system clock.
// Virtual time (tests): the date stands still until a test advances it. Advancing steps from one
// due date to the next (timers of every run loop, delayed dispatch blocks, sleeping threads, run
// limits); at each step everything due fires, in time order, on its own loop or queue, and the
// clock waits until the run loops and dispatch queues have finished that work before the next
// step. The advancing thread's own run loop (if it has one) is run for the due work, in the mode it
// is running or else the default mode. See docs/ARCHITECTURE.md ("Time and threads").

#include <limits>

namespace pf {

// Seconds.
using TimeInterval = double;

// Dates are seconds since 1970-01-01 00:00:00 UTC.
inline constexpr double kDistantFuture = 64092211200.0;   // 4001-01-01
inline constexpr double kDistantPast = -62135769600.0;    // 0001-01-01
inline constexpr TimeInterval kForever = std::numeric_limits<double>::infinity();

class Clock {
 public:
  // The current date.
  static double now();
  // A reading that never goes back, for measuring intervals (seconds from an arbitrary origin; in
  // virtual time it moves exactly with now()).
  static double monotonic();

  static bool isVirtual();
  // Switches to virtual time starting at the given date (the default is 2026-01-01 00:00:00 UTC).
  static void useVirtualTime(double startDate = kVirtualStart);
  // Switches back to real time; threads waiting for virtual dates wake and re-evaluate.
  static void useRealTime();
  // Virtual time only (ignored in real time): moves the date forward by `seconds`, firing
  // everything that falls due on the way in time order (see above).
  static void advance(TimeInterval seconds);
  // Virtual time only: advances to `date` (no effect when it is not later than now()).
  static void advanceTo(double date);

  // Blocks the calling thread for `seconds` on the clock (in virtual time: until the clock has been
  // advanced that far by another thread). Does not run the run loop.
  static void sleep(TimeInterval seconds);
  static void sleepUntil(double date);

  static constexpr double kVirtualStart = 1767225600.0;  // 2026-01-01 00:00:00 UTC
};

// Switches the clock to virtual time for its lifetime and back to real time after.
//
//   pf::VirtualTimeScope time;                 // now() == Clock::kVirtualStart
//   auto t = pf::Timer::scheduled(30, false, [&](pf::Timer&) { fired = true; });
//   time.advance(30);                          // fires on this thread's run loop
class VirtualTimeScope {
 public:
  explicit VirtualTimeScope(double startDate = Clock::kVirtualStart) { Clock::useVirtualTime(startDate); }
  ~VirtualTimeScope() { Clock::useRealTime(); }
  VirtualTimeScope(const VirtualTimeScope&) = delete;
  VirtualTimeScope& operator=(const VirtualTimeScope&) = delete;

  double now() const { return Clock::now(); }
  void advance(TimeInterval seconds) const { Clock::advance(seconds); }
  void advanceTo(double date) const { Clock::advanceTo(date); }
};

}  // namespace pf
