#pragma once
// The container's framework object: network state and the session state it relays.
//
// Network states: 0 none, 1 Wi-Fi, 2 cellular, 3 not yet known (the state at start).

#include <atomic>
#include <optional>
#include <string>

namespace container {

class MwFramework {
 public:
  static MwFramework& getInstance();

  // The last known network state; the request gate waits while it is 3.
  int getCurrentNetworkState() const { return networkState_.load(std::memory_order_acquire); }
  void setCurrentNetworkState(int state) { networkState_.store(state, std::memory_order_release); }

  // The session manager's session state.
  int getSessionState() const;
  void setSessionState(int state);

  // The device bind key (the session manager's), nullopt when there is none.
  std::optional<std::string> getBindKey() const;

  // Tests: network state back to 3.
  static void resetForTesting();

 private:
  MwFramework() = default;
  std::atomic<int> networkState_{3};
};

}  // namespace container
