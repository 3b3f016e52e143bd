#include "platform/foundation/DateFormatter.h"

#include <unicode/ucal.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>

#include <atomic>
#include <cmath>

#include "platform/foundation/Text.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

struct DateFormatter::Impl {
  UDateFormat* format = nullptr;  // set before any use; formatting and parsing hold the mutex
  Mutex mutex;
  ~Impl() {
    if (format) udat_close(format);
  }
};

namespace {
constexpr std::size_t kMaxText = 1024;
}

DateFormatter::DateFormatter(std::string pattern, std::string locale, std::string timeZone)
    : pattern_(std::move(pattern)), impl_(std::make_unique<Impl>()) {
  std::u16string upattern = toUtf16(pattern_);
  std::u16string uzone = toUtf16(timeZone);
  UErrorCode status = U_ZERO_ERROR;
  impl_->format = udat_open(UDAT_PATTERN, UDAT_PATTERN, locale.c_str(),
                            timeZone.empty() ? nullptr : reinterpret_cast<const UChar*>(uzone.data()),
                            timeZone.empty() ? 0 : static_cast<int32_t>(uzone.size()),
                            reinterpret_cast<const UChar*>(upattern.data()), static_cast<int32_t>(upattern.size()),
                            &status);
  if (U_FAILURE(status)) {
    if (impl_->format) udat_close(impl_->format);
    impl_->format = nullptr;
    return;
  }
  udat_setLenient(impl_->format, false);
}

DateFormatter::~DateFormatter() = default;

bool DateFormatter::isValid() const { return impl_->format != nullptr; }

std::string DateFormatter::string(double seconds) const {
  if (!impl_->format || !std::isfinite(seconds)) return {};
  MutexLock lock(impl_->mutex);
  UChar buffer[256];
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = udat_format(impl_->format, seconds * 1000.0, buffer, 256, nullptr, &status);
  if (U_FAILURE(status) || n > 256) return {};
  return fromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n)));
}

std::optional<double> DateFormatter::date(std::string_view text) const {
  if (!impl_->format || text.empty() || text.size() > kMaxText || !isValidUtf8(text)) return std::nullopt;
  std::u16string units = toUtf16(text);
  MutexLock lock(impl_->mutex);
  UErrorCode status = U_ZERO_ERROR;
  int32_t position = 0;
  UDate millis = udat_parse(impl_->format, reinterpret_cast<const UChar*>(units.data()),
                            static_cast<int32_t>(units.size()), &position, &status);
  if (U_FAILURE(status) || position != static_cast<int32_t>(units.size())) return std::nullopt;
  return millis / 1000.0;
}

std::string currentLocaleIdentifier() {
  const char* id = uloc_getDefault();
  return id ? std::string(id) : std::string("en_US_POSIX");
}

bool setCurrentLocaleIdentifier(const std::string& identifier) {
  if (identifier.empty() || identifier.size() > ULOC_FULLNAME_CAPACITY || identifier.find('\0') != std::string::npos)
    return false;
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault(identifier.c_str(), &status);
  return U_SUCCESS(status);
}

namespace {
std::atomic<unsigned> zoneGeneration{0};
}

bool setDefaultTimeZone(const std::string& zoneId) {
  std::u16string zone = toUtf16(zoneId);
  UErrorCode status = U_ZERO_ERROR;
  // An unknown name would silently become "Etc/Unknown" (GMT): refuse it instead.
  UChar canonical[128];
  UBool isSystem = false;
  ucal_getCanonicalTimeZoneID(reinterpret_cast<const UChar*>(zone.data()), static_cast<int32_t>(zone.size()),
                              canonical, 128, &isSystem, &status);
  if (U_FAILURE(status) || !isSystem) return false;
  status = U_ZERO_ERROR;
  ucal_setDefaultTimeZone(reinterpret_cast<const UChar*>(zone.c_str()), &status);
  if (U_FAILURE(status)) return false;
  zoneGeneration.fetch_add(1);
  return true;
}

unsigned defaultTimeZoneGeneration() { return zoneGeneration.load(); }

}  // namespace pf
