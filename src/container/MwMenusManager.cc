#include "container/MwMenusManager.h"

#include "container/MwBusinessManager.h"
#include "container/MwPackageInstaller.h"
#include "container/MwLicenseKey.h"
#include "container/MwResourceFetch.h"
#include "container/MwServerConfiguration.h"
#include "container/LoggerUtil.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Sandbox.h"
#include "platform/security/Digest.h"
#include "platform/foundation/Base64.h"

namespace container {
namespace {

bool isSafeFolderName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.front() != '.' &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool isSafePackageName(const std::string& name) {
  if (name.empty() || name.front() == '.') return false;
  for (unsigned char c : name)
    if (!(std::isalnum(c) || c == '-' || c == '_' || c == '.')) return false;
  return true;
}

std::optional<std::string> fileSha256(const std::filesystem::path& path) {
  auto bytes = pf::FileManager::readFile(path, nullptr, MwResourceFetch::kMaxPackageBytes);
  if (!bytes) return std::nullopt;
  return pf::hexEncode(pf::sha256(*bytes), true);
}

}  // namespace

MwMenusManager::MwMenusManager()
    : queue_(pf::DispatchQueue::makeSerial("my.framework.menumanager")), downloads_(pf::OperationQueue::make("my.framework.menumanager.downloads")) {
  downloads_->setMaxConcurrentOperationCount(2);
}

MwMenusManager& MwMenusManager::getInstance() {
  static MwMenusManager instance;
  return instance;
}

std::filesystem::path MwMenusManager::releasePath() { return pf::Sandbox::documents() / "release"; }

std::filesystem::path MwMenusManager::menuFilePath() const { return releasePath() / kMenuFileName; }

bool MwMenusManager::loadMenuFile() {
  auto document = readKeyedXMLFile(menuFilePath(), kMenuFileName);
  pf::MutexLock lock(menuMutex_);
  menu_ = document;
  return menu_ != nullptr;
}

std::optional<MwXMLElement> MwMenusManager::menuRootElement() {
  pf::MutexLock lock(menuMutex_);
  if (!menu_) return std::nullopt;
  return menu_->rootElement();
}

bool MwMenusManager::replaceMenuWithVerifiedText(const std::string& text) {
  if (!MwLicenseKey::verifyXMLText(text, kMenuFileName) || !MwXMLDocument::initWithXMLString(text)) return false;
  pf::FileManager::createDirectory(releasePath(), true);
  if (!pf::FileManager::writeFile(menuFilePath(), text, true)) return false;
  return loadMenuFile();
}

bool MwMenusManager::saveMenusXMLFile() {
  pf::MutexLock lock(menuMutex_);
  if (!menu_) return false;
  return writeKeyedXMLFile(menu_, menuFilePath(), kMenuFileName);
}

void MwMenusManager::updateTemplateWithUrl(const std::string& url, std::weak_ptr<MwMenuManagerDelegate> delegate) {
  if (url.empty()) return;
  queue_->async([this, url, delegate = std::move(delegate)] {
    auto& waiting = delegates_[url];
    const bool running = !waiting.empty();
    waiting.push_back(delegate);
    if (running) return;
    // Every waiting delegate hears, whatever the download raises.
    downloads_->addOperation([this, url] {
      finish(url, pf::callGuarded("a page package download", 1, [&] { return downloadAndInstall(url); }));
    });
  });
}

void MwMenusManager::finish(const std::string& url, int result) {
  queue_->async([this, url, result] {
    auto found = delegates_.find(url);
    if (found == delegates_.end()) return;
    auto waiting = std::move(found->second);
    delegates_.erase(found);
    pf::DispatchQueue::main()->async([url, result, waiting = std::move(waiting)] {
      const pf::Value answer{{"url", url}, {"result", result}};
      for (const auto& weak : waiting)
        if (auto delegate = weak.lock()) delegate->didDownloadMenuCompletedWithResult(answer);
    });
  });
}

int MwMenusManager::downloadAndInstall(const std::string& url) {
  auto& business = MwBusinessManager::getInstance();
  auto facts = business.packageFacts(url);
  pf::Error error;
  auto report = [&](const pf::Error& e) {
    LoggerUtil::debug("page package of " + url + " not installed: " + e.localizedDescription());
    return 1;
  };
  if (!facts || !isSafePackageName(facts->package) || !isSafeFolderName(facts->dir))
    return report(MwResourceFetch::makeError(kMwResourceNotListed, "no package facts"));
  const auto packageUrl = MwServerConfiguration::getInstance().getServerBaseUrl();
  std::string base = packageUrl;
  if (!base.empty() && base.back() == '/') base.pop_back();
  const auto archive = pf::Sandbox::tmp() / ("page-" + pf::hexEncode(pf::md5(url)) + ".zip");
  if (!MwResourceFetch::download(base + "/" + kPackagePathPrefix + facts->package, archive,
                                 MwResourceFetch::kMaxPackageBytes, &error))
    return report(error);
  const auto hash = fileSha256(archive);
  if (!hash || *hash != facts->hash) {
    pf::FileManager::removeItem(archive);
    return report(MwResourceFetch::makeError(kMwResourceBadHash, "package hash differs"));
  }
  const bool installed = MwPackageInstaller::install(archive, releasePath() / facts->dir, {}, {}, &error);
  pf::FileManager::removeItem(archive);
  if (!installed) return report(error);
  // Installed, but while the mark stays in the file the page is not done: it downloads again.
  if (!business.clearUpdateMark(url))
    return report(MwResourceFetch::makeError(kMwResourceInstall, "the update mark could not be cleared"));
  return 0;
}

void MwMenusManager::waitUntilIdleForTesting() {
  queue_->sync([] {});
  downloads_->waitUntilAllOperationsAreFinished();
  queue_->sync([] {});
}

void MwMenusManager::resetForTesting() {
  auto& self = getInstance();
  self.waitUntilIdleForTesting();
  pf::MutexLock lock(self.menuMutex_);
  self.menu_.reset();
}

}  // namespace container
