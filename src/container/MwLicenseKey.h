#pragma once
// Named keys derived at run time from the application package's key file "mwframework_license",
// and the keyed file hash of saved menu and business files (both defined in docs/resources.md).
// Named keys are never stored.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace container {

class MwLicenseKey {
 public:
  // The named key: upper-case hex of HMAC-SHA-256 under the key file's bytes over the UTF-8 name;
  // nullopt when the key file is missing, empty or larger than 64 KiB.
  static std::optional<std::string> keyForName(std::string_view name);

  // The keyed hash of a file's hashed text: upper-case hex SHA-256 of the text followed by the
  // named key of the file's name. nullopt without a key file.
  static std::optional<std::string> fileHash(std::string_view hashedText, std::string_view fileName);

  // Writes the keyed hash into an XML text made without one: ` hash="<HEX>"` goes right after the
  // root element's name. nullopt without a key file or without a root start tag.
  static std::optional<std::string> signXMLText(const std::string& xmlWithoutHash, std::string_view fileName);
  // True when the text carries, on its root element, the keyed hash of the text without it.
  static bool verifyXMLText(const std::string& xmlText, std::string_view fileName);

  // Tests: read the key file from this folder (empty: the application package again).
  static void setKeyDirectoryForTesting(const std::filesystem::path& directory);
};

}  // namespace container
