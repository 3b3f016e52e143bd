#include "appnet/TnqHTTPSupport.h"

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <memory>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Text.h"
#include "platform/net/UrlError.h"

namespace appnet {

std::string TnqLocalizedString(std::string_view text) {
  return pf::Bundle::main()->localizedString(text, "", "TnqNet");
}

std::optional<pf::Error> TnqInMemoryLimitError(std::size_t kept, std::size_t more, const std::optional<pf::Url>& url) {
  constexpr std::size_t limit = kTnqMaximumInMemoryResponseLength;
  if (more <= limit - std::min(limit, kept)) return std::nullopt;
  return pf::makeUrlError(pf::UrlErrorCode::kDataLengthExceedsMaximum, url,
                          "the answer is longer than " + std::to_string(limit) + " bytes");
}

pf::Error TnqOutOfMemoryError(const std::optional<pf::Url>& url) {
  return pf::makeUrlError(pf::UrlErrorCode::kDataLengthExceedsMaximum, url, "out of memory keeping the answer");
}

std::optional<pf::Error> TnqChainedError(const std::optional<pf::Error>& error,
                                         const std::optional<pf::Error>& underlying) {
  if (!error) return underlying;
  if (!underlying || error->underlying) return error;
  return error->withUnderlying(*underlying);
}

bool TnqErrorChainHasCode(const std::optional<pf::Error>& error, std::int64_t code, std::string_view domain) {
  const pf::Error* e = error ? &*error : nullptr;
  while (e) {
    if (e->domain == domain && e->code == code) return true;
    e = e->underlying.get();
  }
  return false;
}

pf::Value TnqArchiveBytes(const pf::Bytes& bytes) { return pf::Value{{"$data", pf::base64Encode(bytes)}}; }

std::optional<pf::Bytes> TnqUnarchiveBytes(const pf::Value* value) {
  if (!value || !value->is_object()) return std::nullopt;
  const pf::Value* text = pf::valueForKey(*value, "$data");
  if (!text || !text->is_string()) return std::nullopt;
  return pf::base64DecodeStrict(text->get<std::string>());
}

pf::Value TnqArchiveError(const pf::Error& error) {
  pf::Value v{{"domain", error.domain}, {"code", error.code}, {"userInfo", error.userInfo}};
  if (error.underlying) v["underlying"] = TnqArchiveError(*error.underlying);
  return v;
}

std::optional<pf::Error> TnqUnarchiveError(const pf::Value* value) {
  if (!value || !value->is_object()) return std::nullopt;
  const pf::Value* domain = pf::valueForKey(*value, "domain");
  const pf::Value* code = pf::valueForKey(*value, "code");
  if (!domain || !domain->is_string() || !code || !code->is_number()) return std::nullopt;
  pf::Error error(domain->get<std::string>(), pf::integerValue(*code));
  if (const pf::Value* info = pf::valueForKey(*value, "userInfo"); info && info->is_object()) error.userInfo = *info;
  if (auto underlying = TnqUnarchiveError(pf::valueForKey(*value, "underlying")))
    error.underlying = std::make_shared<const pf::Error>(std::move(*underlying));
  return error;
}

bool TnqIsSafeHeaderName(std::string_view name) {
  if (name.empty()) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '\r' || c == '\n' || c == '\0' || c == ':'; });
}

bool TnqIsSafeHeaderValue(std::string_view value) {
  return std::none_of(value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

}  // namespace appnet

namespace appnet {
std::string TnqAddressText(const void* object) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", object);
  return text;
}
}  // namespace appnet
