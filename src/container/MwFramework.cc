#include "container/MwFramework.h"


#include "container/MwBusinessManager.h"
#include "container/MwCrashCollect.h"
#include "container/MwMenusManager.h"
#include "container/MwPackageInstaller.h"
#include "container/MwServletManager.h"
#include "container/MwSessionManager.h"
#include "container/LoggerUtil.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/Digest.h"

namespace container {

MwFramework::MwFramework() : listenerQueue_(pf::DispatchQueue::makeConcurrent("my.framework.delegateQueue")) {
  // The built-in servlets that exist here ("server.do"; the browser, storage and keyboard
  // servlets are not built).
  MwServletManager::getInstance().registerServletWithName(kServerServletName, "MwServerServlet");
  pf::NotificationCenter::defaultCenter().addObserver(kSessionTimeoutNotification, {}, [](const pf::Notification&) {
    getInstance().notify(MwFrameworkDelegate::Operation::SessionTimeout,
                         [](MwFrameworkDelegate& listener) { listener.didSessionTimeout(); });
  });
}

MwFramework& MwFramework::getInstance() {
  static MwFramework instance;
  return instance;
}

int MwFramework::getSessionState() const { return MwSessionManager::getInstance().getSessionState(); }

void MwFramework::setSessionState(int state) { MwSessionManager::getInstance().setSessionState(state); }

std::optional<std::string> MwFramework::getBindKey() const { return MwSessionManager::getInstance().getBindKey(); }

pf::Value MwFramework::getSystemParameters() const {
  pf::MutexLock lock(valuesMutex_);
  return systemParameters_;
}

void MwFramework::addListener(std::shared_ptr<MwFrameworkDelegate> listener) {
  if (!listener) return;
  listenerQueue_->barrierAsync([this, listener = std::move(listener)] { listeners_.push_back(listener); });
}

std::vector<std::shared_ptr<MwFrameworkDelegate>> MwFramework::listeners() const {
  std::vector<std::shared_ptr<MwFrameworkDelegate>> copy;
  listenerQueue_->sync([&] { copy = listeners_; });
  return copy;
}

void MwFramework::notify(MwFrameworkDelegate::Operation operation, std::function<void(MwFrameworkDelegate&)> call) {
  auto targets = listeners();
  pf::DispatchQueue::main()->async([operation, call = std::move(call), targets = std::move(targets)] {
    for (const auto& listener : targets)
      if (listener->implements(operation)) call(*listener);
  });
}

// ---------------------------------------------------------------- resource package

namespace {

// Removes the temporary files that atomic writes of the framework's files left when the process
// was killed before their rename (each removal is logged). Run first thing, while nothing of this
// run writes them.
void removeWriteLeftovers() {
  const auto releaseFile = [](std::string_view name) {
    return name == kBusinessFileName || name == kMenuFileName || name == "resource.json";
  };
  pf::FileManager::removeAtomicWriteLeftovers(MwMenusManager::releasePath(), releaseFile);
  pf::FileManager::removeAtomicWriteLeftovers(MwCrashCollect::reportFolder(), MwCrashCollect::isReportName);
}

void installResourcePackage() {
  auto archive = pf::Bundle::main()->pathForResource("data", "zip");
  if (!archive) {
    LoggerUtil::debug("no resource package in the application package");
    return;
  }
  const auto digest = pf::digestOfFile(pf::DigestAlgorithm::Md5, *archive);
  if (!digest) return;
  const std::string md5 = pf::hexEncode(*digest);
  auto defaults = pf::UserDefaults::standard();
  const auto release = pf::Sandbox::documents() / "release";
  const bool replacing = pf::FileManager::isDirectory(release);
  if (replacing && defaults->string(kZipMD5DefaultsKey) == md5) return;
  // A recorded digest vouches for the tree in place. From the swap until the bookkeeping is done
  // the tree is one no digest may vouch for, so the recorded one is removed on disk first: a kill
  // or a failure from here on leaves none, and the next start installs again whatever package the
  // application package then holds. Where the removal cannot be written the tree stays as it is.
  const auto recorded = defaults->object(kZipMD5DefaultsKey);
  if (!defaults->removeObject(kZipMD5DefaultsKey)) {
    LoggerUtil::debug("resource package not installed: the recorded digest could not be removed");
    return;
  }
  const auto backup = pf::Sandbox::documents() / "backup";
  pf::Error error;
  if (!MwPackageInstaller::install(*archive, release, backup, {}, &error)) {
    LoggerUtil::debug("resource package not installed: " + error.localizedDescription());
    // A failed install leaves the tree byte for byte as it was: its digest holds again.
    if (recorded && !defaults->setObject(kZipMD5DefaultsKey, *recorded))
      LoggerUtil::debug("the recorded digest could not be put back; the resource package is installed again next start");
    return;
  }
  // Pages downloaded into the replaced tree are marked again, so the update downloads them again.
  // Marks that could not be written leave no digest: the next start installs again.
  if (!MwBusinessManager::getInstance().remarkReplacedPages(replacing ? backup / kBusinessFileName
                                                                      : std::filesystem::path())) {
    LoggerUtil::debug("resource package installed, but its pages could not be marked; it is installed again next start");
    return;
  }
  if (!defaults->setObject(kZipMD5DefaultsKey, md5))
    LoggerUtil::debug("resource package installed, but its digest could not be recorded; it is installed again next start");
}

}  // namespace

void MwFramework::unpackResources() {
  // The start-up goes on whatever the clean-up or the install raises; the next start tries again.
  pf::callGuarded("unpacking the resource package", 0, [] {
    removeWriteLeftovers();
    installResourcePackage();
    return 0;
  });
}

// ---------------------------------------------------------------- crash collection

void MwFramework::openCrashCollect() {
  MwCrashCollect::install();
  crashCollectOpen_ = true;
  if (getSessionState() >= 4) {
    pf::Thread::detach([] { MwCrashCollect::sendStoredReports(); }, "sendReport");
  }
}

// ---------------------------------------------------------------- start-up

void MwFramework::initialization() {
  const bool loaded = MwMenusManager::getInstance().loadMenuFile();
  const int prepared = loaded ? 0 : 1;
  dataPrepared_ = prepared;
  pf::NotificationCenter::defaultCenter().post(kDataPreparedNotification, {}, pf::Value{{"result", prepared}});
  notify(MwFrameworkDelegate::Operation::DataPrepared,
         [prepared](MwFrameworkDelegate& listener) { listener.didDataPreparedWithResult(prepared); });
  {
    pf::MutexLock lock(runningMutex_);
    ++running_;
  }
  pf::Thread::detach([this] { runSequence(); }, "my.framework.startup");
}

void MwFramework::waitForStartupForTesting() {
  auto idle = [this]() PF_REQUIRES(runningMutex_) { return running_ == 0; };
  if (pf::Thread::isMainThread()) {
    // The sequence's requests answer through the main run loop: keep it turning.
    pf::RunLoop::main()->spinUntil([&] {
      pf::MutexLock lock(runningMutex_);
      return idle();
    }, 120);
    return;
  }
  pf::UniqueLock lock(runningMutex_);
  runningChanged_.wait(lock.native(), idle);
}

void MwFramework::resetForTesting() {
  auto& self = getInstance();
  self.waitForStartupForTesting();
  self.listenerQueue_->barrierSync([&self] { self.listeners_.clear(); });
  self.setCurrentNetworkState(3);
  self.dataPrepared_ = 2;
  self.menuCheck_ = 2;
  self.manifestCheck_ = 2;
  self.manifestUpdate_ = 2;
  self.initState_ = 0;
  self.crashCollectOpen_ = false;
  pf::MutexLock lock(self.valuesMutex_);
  self.systemParameters_ = nullptr;
}

}  // namespace container
