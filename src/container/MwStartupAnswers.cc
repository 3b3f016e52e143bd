#include "container/MwStartupAnswers.h"

namespace container::MwStartupAnswers {
namespace {

std::string text(const pf::Value& object, const char* key) {
  auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

bool isAccepted(const pf::Value& answer) {
  if (!answer.is_object()) return false;
  auto code = answer.find("RETCODE");
  return code != answer.end() && *code == "AAAAAAA";
}

std::optional<std::string> bindKey(const pf::Value& answer) {
  if (!isAccepted(answer)) return std::nullopt;
  auto key = answer.find("UUIDKEY");
  if (key == answer.end() || !key->is_string()) return std::nullopt;
  return key->get<std::string>();
}

std::optional<pf::Value> manifest(const pf::Value& answer) {
  if (!isAccepted(answer)) return std::nullopt;
  auto found = answer.find("MANIFEST");
  if (found == answer.end() || !found->is_object()) return std::nullopt;
  return *found;
}

std::optional<bool> needsMenuUpdate(const pf::Value& answer) {
  if (!isAccepted(answer)) return std::nullopt;
  auto found = answer.find("needUpdate");
  if (found == answer.end()) return false;
  return pf::integerValue(*found) == 1;
}

std::optional<std::vector<MwFileListEntry>> fileList(const pf::Value& answer) {
  if (!isAccepted(answer)) return std::nullopt;
  auto files = answer.find("FILES");
  if (files == answer.end() || !files->is_array() || files->size() > kMaxFileListEntries) return std::nullopt;
  std::vector<MwFileListEntry> out;
  for (const auto& file : *files) {
    if (!file.is_object()) continue;
    MwFileListEntry entry{text(file, "url"), text(file, "version"), std::nullopt};
    if (entry.url.empty()) continue;
    MwPackageFacts facts{text(file, "package"), text(file, "hash"), text(file, "dir")};
    if (!facts.package.empty() && !facts.hash.empty() && !facts.dir.empty()) entry.facts = std::move(facts);
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace container::MwStartupAnswers
