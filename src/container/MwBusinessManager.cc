#include "container/MwBusinessManager.h"

#include "container/LoggerUtil.h"
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
                       std::string_view fileName, pf::Error* error) {
  std::optional<std::string> text;
  if (auto root = document->rootElement()) {
    root->removeAttributeForName("hash");
    text = MwLicenseKey::signXMLText(document->XMLString(), fileName);
  }
  if (!text) {
    if (error) *error = pf::Error(kMwXMLErrorDomain, 1, pf::Value{{"NSDebugDescription", "the file could not be signed"}});
    return false;
  }
  pf::FileManager::createDirectory(path.parent_path(), true);
  return pf::FileManager::writeFile(path, *text, true, error);
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
  pf::Error error;
  if (writeKeyedXMLFile(document_, filePath(), kBusinessFileName, &error)) return true;
  // The file stays as it was; so does what this manager answers from now on.
  LoggerUtil::debug("business file not written, its changes are dropped: " + error.localizedDescription());
  document_.reset();
  index_.reset();
  return false;
}

bool MwBusinessManager::performBatch(const std::function<void()>& changes) {
  pf::MutexLock lock(mutex_);
  return batchLocked(changes);
}

bool MwBusinessManager::batchLocked(const std::function<void()>& changes) {
  ++batchDepth_;
  try {
    changes();
  } catch (...) {
    endBatchLocked();  // what changed is still written
    throw;
  }
  return endBatchLocked();
}

bool MwBusinessManager::endBatchLocked() {
  if (--batchDepth_ > 0 || !unsaved_) return true;
  unsaved_ = false;
  return saveLocked();
}

bool MwBusinessManager::refreshBusinessWithHTMLUrl(const std::string& url, const std::string& newVersion) {
  pf::MutexLock lock(mutex_);
  return !refreshLocked(url, newVersion) || saveLocked();
}

bool MwBusinessManager::refreshLocked(const std::string& url, const std::string& newVersion) {
  if (newVersion.empty()) return false;
  auto item = findLocked(url);
  if (!item) {
    item = findOrAddLocked(url);
    item->addAttribute("version", newVersion);
    item->addAttribute("update", kUpdateMarkNew);
  } else if (auto version = item->attributeForName("version"); !version) {
    item->addAttribute("version", newVersion);
    item->addAttribute("update", kUpdateMarkNew);
  } else if (version->stringValue().empty()) {
    return false;
  } else if (MwVersionCompare::versionCompare(version->stringValue(), newVersion) != 0) {
    item->addAttribute("version", newVersion);
    item->addAttribute("update", kUpdateMarkUpdated);
  } else {
    return false;
  }
  return true;
}

bool MwBusinessManager::remarkReplacedPages(const std::filesystem::path& replacedFile) {
  pf::MutexLock lock(mutex_);
  document_.reset();  // the package brought its own file
  index_.reset();
  auto replaced = replacedFile.empty() ? nullptr : readKeyedXMLFile(replacedFile, kBusinessFileName);
  if (!replaced) return true;
  return batchLocked([&]() PF_REQUIRES(mutex_) {
    int marked = 0;
    for (const auto& item : replaced->rootElement()->children()) {
      auto url = item.attributeForName("url");
      auto version = item.attributeForName("version");
      if (item.name() == kItemName && url && version && refreshLocked(url->stringValue(), version->stringValue()))
        ++marked;
    }
    if (marked == 0) return;
    LoggerUtil::debug(std::to_string(marked) + " pages of the replaced page tree marked for download");
    saveLocked();  // written when the batch ends
  });
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

bool MwBusinessManager::setPackageFacts(const std::string& url, const MwPackageFacts& facts) {
  pf::MutexLock lock(mutex_);
  auto item = findOrAddLocked(url);
  item.addAttribute("package", facts.package);
  item.addAttribute("hash", facts.hash);
  item.addAttribute("dir", facts.dir);
  return saveLocked();
}

bool MwBusinessManager::clearUpdateMark(const std::string& url) {
  pf::MutexLock lock(mutex_);
  auto item = findLocked(url);
  if (!item || !item->attributeForName("update")) return true;
  item->removeAttributeForName("update");
  return saveLocked();
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
