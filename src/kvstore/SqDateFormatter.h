#pragma once
// A date formatter with a fixed pattern, time zone and locale (ICU), for connections that bind and
// read dates as text. Dates are seconds since 1970.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kvstore {

class SqDateFormatter {
 public:
  // Pattern in the ICU/Unicode date pattern syntax ("yyyy-MM-dd HH:mm:ss"); zone such as "GMT".
  // Throws pf::Exception (invalid argument) when ICU refuses the pattern, locale or zone.
  SqDateFormatter(std::string_view pattern, std::string_view localeId, std::string_view timeZoneId);
  ~SqDateFormatter();
  SqDateFormatter(const SqDateFormatter&) = delete;
  SqDateFormatter& operator=(const SqDateFormatter&) = delete;

  std::string stringFromDate(double secondsSince1970) const;
  // nullopt when the text does not match the pattern.
  std::optional<double> dateFromString(std::string_view text) const;

  const std::string& pattern() const { return pattern_; }

 private:
  std::string pattern_;
  void* format_ = nullptr;  // UDateFormat*
};

}  // namespace kvstore
