// The start-up network sequence of MwFramework: probe, key negotiation, manifest, then the menu
// and file-list checks. Runs on a thread of its own; one sequence at a time.

#include "container/LoggerUtil.h"
#include "container/MwBusinessManager.h"
#include "container/MwComPackage.h"
#include "container/MwCommunicationHelper.h"
#include "container/MwConfiguration.h"
#include "container/MwCrashCollect.h"
#include "container/MwFramework.h"
#include "container/MwLicenseKey.h"
#include "container/MwMenusManager.h"
#include "container/MwResourceFetch.h"
#include "container/MwServerConfiguration.h"
#include "container/MwSessionManager.h"
#include "container/MwStartupAnswers.h"
#include "container/RlSocket.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/Url.h"
#include "platform/security/Digest.h"

namespace container {
namespace {

using Operation = MwFrameworkDelegate::Operation;

constexpr double kProbeTimeout = 10;
constexpr const char* kHandshakeAct = "mwframework.do?act=handshake";
constexpr const char* kManifestAct = "mwframework.do?act=update";
constexpr const char* kMenuCheckAct = "mwframework.do?act=updateMenu&hash=";
constexpr const char* kFileListAct = "mwframework.do?act=fileList";

// ---- network probe: one TCP connection with RlSocket on this thread's run loop.

class ProbeDelegate : public RlSocketDelegate {
 public:
  void onSocketDidConnectToHost(RlSocket& sock, const std::string&, std::uint16_t) override {
    connected = true;
    sock.disconnect();
  }
  // The end of every attempt; the probe's run of the loop returns at once.
  void onSocketDidDisconnect(RlSocket&) override {
    done = true;
    pf::RunLoop::current()->stop();
  }
  bool connected = false;
  bool done = false;
};

bool probe(const MwProbeHost& host) {
  auto delegate = std::make_shared<ProbeDelegate>();
  auto socket = RlSocket::create(delegate);
  if (!socket->connectToHost(host.host, host.port, kProbeTimeout)) return false;
  auto loop = pf::RunLoop::current();
  while (!delegate->done) loop->runMode(pf::kDefaultRunLoopMode, pf::Clock::now() + 1);
  socket->disconnect();
  return delegate->connected;
}

std::vector<MwProbeHost> probeHosts() {
  auto hosts = MwConfiguration::getInstance().probeHosts();
  if (!hosts.empty()) return hosts;
  // Without configured hosts the server itself is probed.
  auto url = pf::Url::parse(MwServerConfiguration::getInstance().getServerBaseUrl());
  if (url && !url->host().empty()) {
    int port = url->port().value_or(url->scheme() == "https" ? 443 : 80);
    hosts.push_back({url->host(), static_cast<std::uint16_t>(port)});
  }
  return hosts;
}

// The business answer of a blocking request (null when there is none).
pf::Value businessAnswer(const std::string& act, const pf::Value& business, int cryptFlag) {
  auto answer = MwCommunicationHelper::synchBusinessRequest(act, business, cryptFlag);
  if (!answer || answer->getErrCode() != 0) return nullptr;
  return answer->businessObject().value_or(nullptr);
}

std::string upperMd5OfFile(const std::filesystem::path& path) {
  auto bytes = pf::FileManager::readRegularFile(path, nullptr, kMwXMLMaxBytes);
  return pf::hexEncode(pf::md5(bytes ? *bytes : pf::Bytes{}), true);
}

std::string packageBaseUrl() {
  std::string base = MwServerConfiguration::getInstance().getServerBaseUrl();
  if (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/" + kPackagePathPrefix;
}

// ---- the acts

int runManifest() {
  auto defaults = pf::UserDefaults::standard();
  pf::Value version = "";
  if (auto parameters = MwConfiguration::getInstance().valueForKey("parameters");
      parameters && parameters->is_object() && parameters->contains("version"))
    version = (*parameters)["version"];
  const pf::Value request{{"VERSION", version}, {"ZIPMD5", defaults->string(kZipMD5DefaultsKey).value_or("")}};
  auto manifest = MwStartupAnswers::manifest(businessAnswer(kManifestAct, request, kCrypt3Des));
  if (!manifest) return 1;
  auto text = pf::writeJson(*manifest);
  if (!text) return 1;
  const auto release = MwMenusManager::releasePath();
  pf::FileManager::createDirectory(release, true);
  return pf::FileManager::writeFile(release / "resource.json", *text, true) ? 0 : 1;
}

int runMenuCheck() {
  auto& menus = MwMenusManager::getInstance();
  const std::string hash = upperMd5OfFile(menus.menuFilePath());
  auto needed = MwStartupAnswers::needsMenuUpdate(
      businessAnswer(kMenuCheckAct + hash, pf::Value{{"act", "jsonDic"}, {"hash", hash}}, kCrypt3Des));
  if (!needed) return 1;
  if (!*needed) return 0;
  const auto download = pf::Sandbox::tmp() / "framework-menu.xml";
  pf::Error error;
  if (!MwResourceFetch::download(packageBaseUrl() + kMenuFileName, download, kMwXMLMaxBytes, &error)) {
    LoggerUtil::debug("menu download failed: " + error.localizedDescription());
    return 1;
  }
  auto bytes = pf::FileManager::readFile(download, nullptr, kMwXMLMaxBytes);
  pf::FileManager::removeItem(download);
  if (!bytes || !menus.replaceMenuWithVerifiedText(std::string(bytes->begin(), bytes->end()))) {
    LoggerUtil::debug("downloaded menu does not verify");
    return 1;
  }
  return 0;
}

int runFileList() {
  auto files = MwStartupAnswers::fileList(businessAnswer(kFileListAct, pf::Value{{"DEVICE", "iphone"}}, kCrypt3Des));
  if (!files) return 1;
  auto& business = MwBusinessManager::getInstance();
  const bool written = business.performBatch([&] {  // one write of the business file for the whole list
    for (const auto& file : *files) {
      business.refreshBusinessWithHTMLUrl(file.url, file.version);
      if (file.facts) business.setPackageFacts(file.url, *file.facts);
    }
  });
  return written ? 0 : 1;
}

}  // namespace

void MwFramework::runSequence() {
  struct Ended {
    MwFramework& framework;
    ~Ended() {
      pf::MutexLock lock(framework.runningMutex_);
      --framework.running_;
      framework.runningChanged_.notify_all();
    }
  } ended{*this};
  pf::MutexLock sequence(sequenceMutex_);  // a second run waits for the first
  initState_ = 2;

  auto handshakeFailed = [this](const char* reason) {
    initState_ = 1;
    const pf::Value result{{"result", 1}, {"reason", reason}};
    notify(Operation::HandShake, [result](MwFrameworkDelegate& listener) { listener.didHandShakeWithResult(result); });
    pf::DispatchQueue::main()->async(
        [] { pf::NotificationCenter::defaultCenter().post(kConsultNotification, {}, pf::Value{{"result", 1}}); });
  };

  // 1. Network probe: the first host, then the fallback.
  bool reachable = false;
  for (const auto& host : probeHosts())
    if ((reachable = probe(host))) break;
  const int network = reachable ? 1 : 0;
  setCurrentNetworkState(network);
  notify(Operation::NetworkState, [network](MwFrameworkDelegate& listener) { listener.didNetworkWithState(network); });
  if (!reachable) return handshakeFailed("network");

  // 2. Key negotiation under the consult key (crypt flag 4).
  auto& session = MwSessionManager::getInstance();
  session.emptyServerRandom();
  session.setSessionState(1);
  const pf::Value hello{{"CLIENTRANDOM", pf::hexEncode(session.getClientRandom())}};
  const pf::Value answer = businessAnswer(kHandshakeAct, hello, kCryptRsa);
  auto bindKey = MwStartupAnswers::bindKey(answer);
  if (!bindKey || session.getServerEncryptRandom().empty()) {
    session.setSessionState(2);
    return handshakeFailed("passwd");
  }
  session.setBindKey(*bindKey);
  {
    pf::MutexLock lock(valuesMutex_);
    systemParameters_ = answer.value("SYSPARAM", pf::Value());
  }
  if (session.getSessionState() < 4) session.setSessionState(4);
  notify(Operation::HandShake,
         [](MwFrameworkDelegate& listener) { listener.didHandShakeWithResult(pf::Value{{"result", 0}}); });
  if (crashCollectOpen_) MwCrashCollect::sendStoredReports();

  // 3. Manifest.
  const int manifest = runManifest();
  manifestUpdate_ = manifest;
  notify(Operation::UpdateManifest,
         [manifest](MwFrameworkDelegate& listener) { listener.didUpdateManifestWithResult(manifest); });
  pf::DispatchQueue::main()->async(
      [] { pf::NotificationCenter::defaultCenter().post(kConsultNotification, {}, pf::Value{{"result", 0}}); });

  // 4. Menu and file-list checks on threads of their own; results reported in that order.
  int menu = 1, files = 1;
  auto menuThread = pf::Thread::make([&menu] { menu = runMenuCheck(); }, "my.framework.menucheck");
  auto filesThread = pf::Thread::make([&files] { files = runFileList(); }, "my.framework.filelist");
  menuThread->start();
  filesThread->start();
  menuThread->join();
  menuCheck_ = menu;
  notify(Operation::CheckMenu, [menu](MwFrameworkDelegate& listener) { listener.didCheckMenuWithResult(menu); });
  filesThread->join();
  manifestCheck_ = files;
  initState_ = (menu == 0 && files == 0) ? 0 : 1;
  notify(Operation::CheckManifest, [files](MwFrameworkDelegate& listener) { listener.didCheckManifestWithResult(files); });
}

}  // namespace container
