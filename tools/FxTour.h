#pragma once
// The demo tour: after the start-up, the runner goes through the bank's pages and every plug-in
// they call, touching the screen where a finger would (see FxTour.cc for the steps). Each step
// states what it expects, writes DIR/tour-NN-<name>.png and a line in the log.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Json.h"

namespace app {
class AppDelegate;
}

namespace fxtour {

// What the tour needs of its runner.
class Driver {
 public:
  virtual ~Driver() = default;
  // One line of startup.log.
  virtual void log(const std::string& line) = 0;
  // Every log line of the application and its pages so far.
  virtual std::vector<std::string> logLines() = 0;
  // The screen as DIR/<name>.png; false when it could not be written.
  virtual bool snapshot(const std::string& name) = 0;
  // Runs the main loop until done() holds or `realSeconds` pass (never past the run's deadline);
  // the clock does not move.
  virtual bool waitFor(const std::function<bool()>& done, double realSeconds) = 0;
  // Whether the run's deadline has passed: the tour stops.
  virtual bool expired() const = 0;
  // Moves the clock forward (in virtual time by short steps, letting loopback answers in between).
  virtual void advance(double seconds) = 0;
  // The demo bank: a GET of the path, or a command posted to its control page (null: no answer).
  virtual pf::Value bankGet(const std::string& path) = 0;
  virtual pf::Value bankControl(const pf::Value& command) = 0;
};

// The tour's exit code: 0 when every step saw what it expects, else 3 (the failed steps are logged;
// at the deadline the tour stops there).
inline constexpr int kTourFailed = 3;
int run(Driver& driver, const std::shared_ptr<app::AppDelegate>& delegate);
// Sets up the state the tour depends on, once the application has launched and before its first
// page reads it: what an earlier tour kept in the pages' store (the watch list's order, the visits
// counted) goes.
void prepare(Driver& driver);

}  // namespace fxtour
