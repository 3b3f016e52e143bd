#pragma once
// The business file (Documents/release/business.xml): one "item" element per page with its "url",
// its "version", the update mark "update" ("i" new, "u" updated) and the package facts the file
// list gave ("package", "hash", "dir"; see docs/resources.md). The file carries the keyed file
// hash; a file that does not read or verify counts as absent. Every change is written at once,
// atomically, unless a batch holds the writes back to its end. A write that fails is the change's
// failure (false), logged: the file stays as it was and the manager reads it again, so what it
// answers is what the file holds. Pages are found through an index by url (the first item of each
// url). Thread-safe; elements handed out are for the calling thread's immediate use (read them, or
// change other attributes than "url").

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "container/MwXMLDocument.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace container {

inline constexpr const char* kBusinessFileName = "business.xml";
inline constexpr const char* kUpdateMarkNew = "i";
inline constexpr const char* kUpdateMarkUpdated = "u";

// What the file list says of one page's package.
struct MwPackageFacts {
  std::string package;  // file name under "mwframework/data/iphone/"
  std::string hash;     // upper-case hex SHA-256 of the package bytes
  std::string dir;      // folder under Documents/release the package becomes
};

class MwBusinessManager {
 public:
  static MwBusinessManager& getInstance();

  // Nothing for an empty version; a page without element gets one with the version and the mark
  // "i"; an element without "version" gets it and "i"; an element whose "version" is empty stays;
  // otherwise a version that compares differently is stored with the mark "u". False when the
  // change could not be written.
  bool refreshBusinessWithHTMLUrl(const std::string& url, const std::string& newVersion);
  // The first "item" whose "url" equals the page url.
  std::optional<MwXMLElement> getElementByHTMLUrl(const std::string& url);

  // The package facts of a page (all three present and non-empty), else nullopt.
  std::optional<MwPackageFacts> packageFacts(const std::string& url);
  // Stores the package facts on the page's element (made without version or mark when missing).
  bool setPackageFacts(const std::string& url, const MwPackageFacts& facts);
  // Removes the page's update mark (after its package is installed).
  bool clearUpdateMark(const std::string& url);
  // After the resource package replaced the page tree: reads the new business file, and marks
  // again every page whose item in the replaced file (`replacedFile`, none when nothing was
  // replaced) differs from it, as refreshBusinessWithHTMLUrl does with the replaced version, so
  // that pages downloaded since the package was made are downloaded again. False when the marks
  // could not be written.
  bool remarkReplacedPages(const std::filesystem::path& replacedFile);

  // Writes the file with its keyed hash (atomically); false when it cannot be written.
  bool saveBusinessXMLFile();

  // Runs `changes` (calls of this manager, on this thread) with the writes they cause held back:
  // the file is written and signed once at the end, when something changed, rather than once per
  // change. Other threads wait for the batch. A batch inside a batch writes with the outer one.
  // False when the outermost batch's write failed (all its changes are then forgotten).
  bool performBatch(const std::function<void()>& changes);

  std::filesystem::path filePath() const;
  // Tests: forget the tree; the next use reads the file again.
  static void resetForTesting();

 private:
  MwBusinessManager() = default;
  MwXMLElement rootLocked() PF_REQUIRES(mutex_);
  // The index by url, built from the tree on first use.
  std::unordered_map<std::string, MwXMLElement>& indexLocked() PF_REQUIRES(mutex_);
  std::optional<MwXMLElement> findLocked(const std::string& url) PF_REQUIRES(mutex_);
  MwXMLElement findOrAddLocked(const std::string& url) PF_REQUIRES(mutex_);
  // Writes the file, or, inside a batch, notes that it must be written. A failed write is logged
  // and the tree forgotten (the next use reads the file, which stayed as it was).
  bool saveLocked() PF_REQUIRES(mutex_);
  // performBatch with the lock held.
  bool batchLocked(const std::function<void()>& changes) PF_REQUIRES(mutex_);
  // Leaves a batch; the outermost one writes what it held back. False when that write failed.
  bool endBatchLocked() PF_REQUIRES(mutex_);
  // The refresh of one page in the tree; true when it changed something.
  bool refreshLocked(const std::string& url, const std::string& newVersion) PF_REQUIRES(mutex_);

  pf::RecursiveMutex mutex_;
  std::shared_ptr<MwXMLDocument> document_ PF_GUARDED_BY(mutex_);
  std::optional<std::unordered_map<std::string, MwXMLElement>> index_ PF_GUARDED_BY(mutex_);
  int batchDepth_ PF_GUARDED_BY(mutex_) = 0;
  bool unsaved_ PF_GUARDED_BY(mutex_) = false;  // a batch held a write back
};

// Reads a keyed XML file: nullptr when it is missing, unreadable, not verified or not XML.
std::shared_ptr<MwXMLDocument> readKeyedXMLFile(const std::filesystem::path& path, std::string_view fileName);
// Writes a document with its keyed hash, atomically.
bool writeKeyedXMLFile(const std::shared_ptr<MwXMLDocument>& document, const std::filesystem::path& path,
                       std::string_view fileName, pf::Error* error = nullptr);

}  // namespace container
