#pragma once
// The container's framework object: start-up states, listeners, the start-up sequence, network and
// session state.
//
// States: network 0 none, 1 Wi-Fi, 2 cellular, 3 not yet known; data-prepared, menu-check,
// manifest-check and manifest-update 0 success, 1 failure, 2 not yet known; init 0 ready, 1 failed,
// 2 in progress.
//
// Start-up: unpackResources() installs the application package's "data.zip" as Documents/release
// (the old tree goes to Documents/backup; "zipMD5" in the user defaults skips an unchanged
// package: it is removed before the swap and recorded once the replaced pages are marked again, so
// a tree without one is installed again). initialization() loads the menu, posts "DataPrepared"
// and runs the network sequence on threads of its own: probe, key negotiation, manifest, then the
// menu and file-list checks.
// A second initialization while one runs waits for it. Every result reaches the listeners that
// implement its operation asynchronously on the main queue, so none arrives before the caller
// returns. The formats of the acts are in docs/resources.md.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace container {

inline constexpr const char* kDataPreparedNotification = "DataPrepared";
inline constexpr const char* kConsultNotification = "ConsultNotification";
inline constexpr const char* kZipMD5DefaultsKey = "zipMD5";

// The listener interface of framework events. Every operation is optional: a listener says which
// ones it implements through implements(); the framework calls only those.
class MwFrameworkDelegate {
 public:
  enum class Operation {
    DataPrepared,
    Locate,
    HandShake,
    CheckMenu,
    CheckManifest,
    UpdateManifest,
    SessionTimeout,
    LoginRequired,
    NetworkState,
  };
  virtual ~MwFrameworkDelegate() = default;
  virtual bool implements(Operation operation) const = 0;

  virtual void didDataPreparedWithResult(int result) {}
  virtual void didLocateWithResult(const pf::Value& result) {}
  // {"result": 0 success, 1 failure} and, on failure, "reason" "network" or "passwd".
  virtual void didHandShakeWithResult(const pf::Value& result) {}
  virtual void didCheckMenuWithResult(int result) {}
  virtual void didCheckManifestWithResult(int result) {}
  virtual void didUpdateManifestWithResult(int result) {}
  virtual void didSessionTimeout() {}
  virtual void didLoginRequired() {}
  virtual void didNetworkWithState(int state) {}
};

class MwFramework {
 public:
  static MwFramework& getInstance();

  // ---- start-up
  void unpackResources();
  void initialization();
  // Adds a listener (a barrier block on the listener queue); null is ignored.
  void addListener(std::shared_ptr<MwFrameworkDelegate> listener);
  // Installs crash collection: a terminate handler stores a report; stored reports go to the
  // server once a session is open, and are deleted when the server has taken them.
  void openCrashCollect();

  // ---- states
  int getCurrentNetworkState() const { return networkState_.load(std::memory_order_acquire); }
  void setCurrentNetworkState(int state) { networkState_.store(state, std::memory_order_release); }
  int getDataPreparedState() const { return dataPrepared_.load(); }
  int getMenuCheckState() const { return menuCheck_.load(); }
  int getManifestCheckState() const { return manifestCheck_.load(); }
  int getManifestUpdateState() const { return manifestUpdate_.load(); }
  int getInitState() const { return initState_.load(); }
  int getSessionState() const;
  void setSessionState(int state);
  // The device bind key (the session manager's), nullopt when there is none.
  std::optional<std::string> getBindKey() const;
  // The system parameters of the last key negotiation ("SYSPARAM"), null before one.
  pf::Value getSystemParameters() const;

  // Tests: waits until no start-up sequence runs (their results may still be on the main queue).
  void waitForStartupForTesting();
  // Tests: states back to their start, no listeners.
  static void resetForTesting();

 private:
  friend class MwStartupSequence;
  MwFramework();
  std::vector<std::shared_ptr<MwFrameworkDelegate>> listeners() const;
  // Calls `call` on every listener implementing `operation`, on the main queue.
  void notify(MwFrameworkDelegate::Operation operation, std::function<void(MwFrameworkDelegate&)> call);
  void runSequence();

  std::atomic<int> networkState_{3};
  std::atomic<int> dataPrepared_{2};
  std::atomic<int> menuCheck_{2};
  std::atomic<int> manifestCheck_{2};
  std::atomic<int> manifestUpdate_{2};
  std::atomic<int> initState_{0};

  std::shared_ptr<pf::DispatchQueue> listenerQueue_;  // "my.framework.delegateQueue"
  std::vector<std::shared_ptr<MwFrameworkDelegate>> listeners_;  // on listenerQueue_

  pf::Mutex sequenceMutex_;  // held by the running start-up sequence
  pf::Mutex runningMutex_;
  std::condition_variable runningChanged_;
  int running_ PF_GUARDED_BY(runningMutex_) = 0;  // sequences started and not ended

  mutable pf::Mutex valuesMutex_;
  pf::Value systemParameters_ PF_GUARDED_BY(valuesMutex_);
  std::atomic<bool> crashCollectOpen_{false};
};

}  // namespace container
