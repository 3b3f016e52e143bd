#pragma once
// Readers of the start-up acts' business answers (formats in docs/resources.md). Pure functions
// over a parsed answer: any value gives a result or nothing, never more than the limits allow.

#include <optional>
#include <string>
#include <vector>

#include "container/MwBusinessManager.h"
#include "platform/foundation/Value.h"

namespace container {

struct MwFileListEntry {
  std::string url;
  std::string version;
  std::optional<MwPackageFacts> facts;  // when "package", "hash" and "dir" are all non-empty texts
};

namespace MwStartupAnswers {

inline constexpr std::size_t kMaxFileListEntries = 10000;

// True when the answer is a dictionary whose "RETCODE" is "AAAAAAA".
bool isAccepted(const pf::Value& answer);
// The handshake's bind key ("UUIDKEY" text) of an accepted answer.
std::optional<std::string> bindKey(const pf::Value& answer);
// The manifest's "MANIFEST" dictionary of an accepted answer.
std::optional<pf::Value> manifest(const pf::Value& answer);
// The menu check's "needUpdate" (a number or numeric text) of an accepted answer: true for 1.
std::optional<bool> needsMenuUpdate(const pf::Value& answer);
// The file list's entries of an accepted answer; nothing for a missing, non-list or too long
// "FILES". Entries that are no dictionary or have no "url" text are skipped.
std::optional<std::vector<MwFileListEntry>> fileList(const pf::Value& answer);

}  // namespace MwStartupAnswers
}  // namespace container
