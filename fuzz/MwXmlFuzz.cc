// Any bytes through the XML wrapper and the menu and business file readers: a document or nothing,
// never a crash, a hang or unbounded memory. Inputs are also signed with the test key file, so the
// readers get past the keyed hash and parse.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "container/MwBusinessManager.h"
#include "container/MwLicenseKey.h"
#include "container/MwMenusManager.h"
#include "container/MwXMLDocument.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Sandbox.h"

namespace {

std::filesystem::path scratch() {
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() / ("fuzz_mwxml." + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    // A key file of our own, so signed inputs verify and reach the parser.
    pf::FileManager::writeFile(path / "mwframework_license", std::string_view("fuzzing key file"), false);
    container::MwLicenseKey::setKeyDirectoryForTesting(path);
    return path;
  }();
  return folder;
}

void walk(const container::MwXMLElement& element, int depth) {
  (void)element.name();
  (void)element.attributeForName("url");
  (void)element.attributeForName("version");
  if (depth < 80)
    for (const auto& child : element.children()) walk(child, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto folder = scratch();
  static const bool cleaned = std::atexit([] { std::filesystem::remove_all(scratch()); }) == 0;
  (void)cleaned;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto document = container::MwXMLDocument::initWithXMLString(text)) {
    if (auto root = document->rootElement()) walk(*root, 0);
    (void)document->XMLString();
  }
  for (const char* name : {container::kMenuFileName, container::kBusinessFileName}) {
    const auto signedText = container::MwLicenseKey::signXMLText(text, name);
    for (const auto& candidate : {text, signedText.value_or(std::string())}) {
      pf::FileManager::writeFile(folder / name, candidate, false);
      if (auto document = container::readKeyedXMLFile(folder / name, name))
        if (auto root = document->rootElement()) walk(*root, 0);
    }
  }
  return 0;
}
