#include "container/MwBusinessManager.h"

#include "container/MwLicenseKey.h"
#include "container/MwVersionCompare.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Sandbox.h"

namespace container {
namespace {

constexpr const char* kRootName = "business";
constexpr const char* kItemName = "item";

}  // namespace

std::shared_ptr<MwXMLDocument> readKeyedXMLFile(const std::filesystem::path& path, std::string_view fileName) {
  // Regular files only: a FIFO or a device where the file belongs must not stall the start.
  auto bytes = pf::FileManager::readRegularFile(path, nullptr, kMwXMLMaxBytes);
  if (!bytes) return nullptr;
  std::string text(bytes->begin(), bytes->end());
  if (!MwLicenseKey::verifyXMLText(text, fileName)) return nullptr;
  auto document = MwXMLDocument::initWithXMLString(text);
  if (!document) return nullptr;
  document->rootElement()->removeAttributeForName("hash");
  return document;
}

bool writeKeyedXMLFile(const std::shared_ptr<MwXMLDocument>& document, const std::filesystem::path& path,
                       std::string_view fileName) {
  auto root = document->rootElement();
  if (!root) return false;
  root->removeAttributeForName("hash");
  auto text = MwLicenseKey::signXMLText(document->XMLString(), fileName);
  if (!text) return false;
  pf::FileManager::createDirectory(path.parent_path(), true);
  return pf::FileManager::writeFile(path, *text, true);
}

MwBusinessManager& MwBusinessManager::getInstance() {
  static MwBusinessManager instance;
  return instance;
}

std::filesystem::path MwBusinessManager::filePath() const { return pf::Sandbox::documents() / "release" / kBusinessFileName; }

MwXMLElement MwBusinessManager::rootLocked() {
  if (!document_) {
    index_.reset();
    document_ = readKeyedXMLFile(filePath(), kBusinessFileName);
    if (!document_) document_ = MwXMLDocument::initWithRootName(kRootName);
  }
  return *document_->rootElement();
}

std::unordered_map<std::string, MwXMLElement>& MwBusinessManager::indexLocked() {
  auto root = rootLocked();
  if (!index_) {
    index_.emplace();
    for (auto& item : root.children()) {
      if (item.name() != kItemName) continue;
      if (auto url = item.attributeForName("url")) index_->emplace(url->stringValue(), item);  // the first stays
    }
  }
  return *index_;
}

std::optional<MwXMLElement> MwBusinessManager::findLocked(const std::string& url) {
  auto& index = indexLocked();
  auto found = index.find(url);
  if (found == index.end()) return std::nullopt;
  auto attribute = found->second.attributeForName("url");
  if (!attribute || attribute->stringValue() != url) {
    // An element handed out had its url changed: read the tree again.
    index_.reset();
    auto& fresh = indexLocked();
    found = fresh.find(url);
    if (found == fresh.end()) return std::nullopt;
  }
  return found->second;
}

MwXMLElement MwBusinessManager::findOrAddLocked(const std::string& url) {
  if (auto found = findLocked(url)) return *found;
  auto item = rootLocked().addChild(kItemName);
  item.addAttribute("url", url);
  indexLocked().emplace(url, item);
  return item;
}

bool MwBusinessManager::saveLocked() {
  rootLocked();
  if (batchDepth_ > 0) {
    unsaved_ = true;
    return true;
  }
  return writeKeyedXMLFile(document_, filePath(), kBusinessFileName);
}

void MwBusinessManager::performBatch(const std::function<void()>& changes) {
  pf::MutexLock lock(mutex_);
  ++batchDepth_;
  try {
    changes();
  } catch (...) {
    endBatchLocked();  // what changed is still written
    throw;
  }
  endBatchLocked();
}

void MwBusinessManager::endBatchLocked() {
  if (--batchDepth_ > 0 || !unsaved_) return;
  unsaved_ = false;
  saveLocked();
}

void MwBusinessManager::refreshBusinessWithHTMLUrl(const std::string& url, const std::string& newVersion) {
  if (newVersion.empty()) return;
  pf::MutexLock lock(mutex_);
  auto item = findLocked(url);
  if (!item) {
    item = findOrAddLocked(url);
    item->addAttribute("version", newVersion);
    item->addAttribute("update", kUpdateMarkNew);
  } else if (auto version = item->attributeForName("version"); !version) {
    item->addAttribute("version", newVersion);
    item->addAttribute("update", kUpdateMarkNew);
  } else if (version->stringValue().empty()) {
    return;
  } else if (MwVersionCompare::versionCompare(version->stringValue(), newVersion) != 0) {
    item->addAttribute("version", newVersion);
    item->addAttribute("update", kUpdateMarkUpdated);
  } else {
    return;
  }
  saveLocked();
}

std::optional<MwXMLElement> MwBusinessManager::getElementByHTMLUrl(const std::string& url) {
  pf::MutexLock lock(mutex_);
  return findLocked(url);
}

std::optional<MwPackageFacts> MwBusinessManager::packageFacts(const std::string& url) {
  pf::MutexLock lock(mutex_);
  auto item = findLocked(url);
  if (!item) return std::nullopt;
  MwPackageFacts facts;
  for (auto [name, field] : {std::pair{"package", &facts.package}, {"hash", &facts.hash}, {"dir", &facts.dir}}) {
    auto attribute = item->attributeForName(name);
    if (!attribute || attribute->stringValue().empty()) return std::nullopt;
    *field = attribute->stringValue();
  }
  return facts;
}

void MwBusinessManager::setPackageFacts(const std::string& url, const MwPackageFacts& facts) {
  pf::MutexLock lock(mutex_);
  auto item = findOrAddLocked(url);
  item.addAttribute("package", facts.package);
  item.addAttribute("hash", facts.hash);
  item.addAttribute("dir", facts.dir);
  saveLocked();
}

void MwBusinessManager::clearUpdateMark(const std::string& url) {
  pf::MutexLock lock(mutex_);
  auto item = findLocked(url);
  if (!item || !item->attributeForName("update")) return;
  item->removeAttributeForName("update");
  saveLocked();
}

bool MwBusinessManager::saveBusinessXMLFile() {
  pf::MutexLock lock(mutex_);
  return saveLocked();
}

void MwBusinessManager::resetForTesting() {
  auto& self = getInstance();
  pf::MutexLock lock(self.mutex_);
  self.document_.reset();
  self.index_.reset();
  self.unsaved_ = false;
}

}  // namespace container
