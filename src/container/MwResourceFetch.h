#pragma once
// Blocking download of one resource (a page package, the menu file) through a URL session, for the
// start-up threads and the menu manager's queue. Only a 200 answer counts; the body may not pass
// a size limit (checked as bytes arrive and from Content-Length). Never call on the main thread.

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/foundation/Error.h"

namespace container {

inline constexpr const char* kMwResourceErrorDomain = "MwResourceErrorDomain";
// Error codes of kMwResourceErrorDomain.
enum MwResourceErrorCode : std::int64_t {
  kMwResourceBadUrl = 1,
  kMwResourceTransport = 2,   // the load failed (user info: the URL error underneath)
  kMwResourceStatus = 3,      // an answer other than 200 ("status" in the user info)
  kMwResourceTooLarge = 4,
  kMwResourceBadHash = 5,
  kMwResourceBadContent = 6,  // the bytes do not read (package, menu, answer)
  kMwResourceNotListed = 7,   // a page without package facts in the business file
  kMwResourceInstall = 8,     // unpacking or swapping failed (the zip or file error underneath)
};

class MwResourceFetch {
 public:
  static constexpr std::uint64_t kMaxPackageBytes = 32ull << 20;
  static constexpr double kTimeout = 60;

  // Downloads `url` into `destination` (replaced). False with *error set on any failure; then
  // `destination` is left as it was.
  static bool download(const std::string& url, const std::filesystem::path& destination,
                       std::uint64_t maxBytes, pf::Error* error);

  static pf::Error makeError(std::int64_t code, const std::string& reason);
};

}  // namespace container
