#include "kvstore/SqDateFormatter.h"

#include <unicode/udat.h>
#include <unicode/ustring.h>

#include <vector>

#include "platform/foundation/Error.h"

namespace kvstore {
namespace {

std::u16string toUtf16(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8WithSub(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                       &status);
  return U_SUCCESS(status) ? out : std::u16string();
}

std::string toUtf8(const UChar* text, int32_t length) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t size = 0;
  u_strToUTF8WithSub(nullptr, 0, &size, text, length, 0xFFFD, nullptr, &status);
  std::string out(static_cast<std::size_t>(size), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), size, nullptr, text, length, 0xFFFD, nullptr, &status);
  return U_SUCCESS(status) ? out : std::string();
}

}  // namespace

SqDateFormatter::SqDateFormatter(std::string_view pattern, std::string_view localeId, std::string_view timeZoneId)
    : pattern_(pattern) {
  std::u16string pattern16 = toUtf16(pattern);
  std::u16string zone16 = toUtf16(timeZoneId);
  std::string locale(localeId);
  UErrorCode status = U_ZERO_ERROR;
  format_ = udat_open(UDAT_PATTERN, UDAT_PATTERN, locale.c_str(), zone16.data(), static_cast<int32_t>(zone16.size()),
                      pattern16.data(), static_cast<int32_t>(pattern16.size()), &status);
  if (U_FAILURE(status) || !format_) {
    if (format_) udat_close(static_cast<UDateFormat*>(format_));
    throw pf::Exception(pf::kInvalidArgumentException,
                        "Could not make a date formatter for the pattern " + std::string(pattern) + ": " +
                            u_errorName(status));
  }
  udat_setLenient(static_cast<UDateFormat*>(format_), false);
}

SqDateFormatter::~SqDateFormatter() { udat_close(static_cast<UDateFormat*>(format_)); }

std::string SqDateFormatter::stringFromDate(double secondsSince1970) const {
  UChar buffer[128];
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = udat_format(static_cast<const UDateFormat*>(format_), secondsSince1970 * 1000.0, buffer, 128,
                               nullptr, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    std::vector<UChar> big(static_cast<std::size_t>(length) + 1);
    status = U_ZERO_ERROR;
    length = udat_format(static_cast<const UDateFormat*>(format_), secondsSince1970 * 1000.0, big.data(),
                         static_cast<int32_t>(big.size()), nullptr, &status);
    return U_SUCCESS(status) ? toUtf8(big.data(), length) : std::string();
  }
  return U_SUCCESS(status) ? toUtf8(buffer, length) : std::string();
}

std::optional<double> SqDateFormatter::dateFromString(std::string_view text) const {
  std::u16string text16 = toUtf16(text);
  UErrorCode status = U_ZERO_ERROR;
  int32_t position = 0;
  UDate date = udat_parse(static_cast<const UDateFormat*>(format_), text16.data(), static_cast<int32_t>(text16.size()),
                          &position, &status);
  if (U_FAILURE(status)) return std::nullopt;
  return date / 1000.0;
}

}  // namespace kvstore
