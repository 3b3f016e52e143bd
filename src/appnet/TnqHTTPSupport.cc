#include "appnet/TnqHTTPSupport.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <memory>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Text.h"

namespace appnet {

std::string TnqLocalizedString(std::string_view text) {
  return pf::Bundle::main()->localizedString(text, "", "TnqNet");
}

namespace {

struct EncodingEntry {
  TnqStringEncoding encoding;
  const char* converter;  // ICU converter name
};

constexpr EncodingEntry kEncodings[] = {
    {kTnqASCIIStringEncoding, "US-ASCII"},       {kTnqUTF8StringEncoding, "UTF-8"},
    {kTnqISOLatin1StringEncoding, "ISO-8859-1"}, {kTnqUTF16StringEncoding, "UTF-16"},
    {kTnqWindowsCP1252StringEncoding, "windows-1252"}, {kTnqGB18030StringEncoding, "GB18030"},
    {3, "EUC-JP"}, {8, "Shift_JIS"}, {0x80000940, "EUC-KR"}, {0x80000A03, "Big5"},
};

const char* converterName(TnqStringEncoding encoding) {
  for (const auto& entry : kEncodings)
    if (entry.encoding == encoding) return entry.converter;
  return nullptr;
}

std::optional<std::string> convert(std::string_view bytes, const char* to, const char* from) {
  if (!to || !from) return std::nullopt;
  if (bytes.empty()) return std::string();
  UErrorCode status = U_ZERO_ERROR;
  UConverter* source = ucnv_open(from, &status);
  UConverter* target = ucnv_open(to, &status);
  std::unique_ptr<UConverter, void (*)(UConverter*)> s(source, ucnv_close), t(target, ucnv_close);
  if (U_FAILURE(status)) return std::nullopt;
  ucnv_setToUCallBack(source, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(target, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  std::string out(bytes.size() * 4 + 16, '\0');
  status = U_ZERO_ERROR;
  int32_t n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                           static_cast<int32_t>(bytes.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<std::size_t>(n) + 1, '\0');
    status = U_ZERO_ERROR;
    n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                     static_cast<int32_t>(bytes.size()), &status);
  }
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

bool isAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

TnqStringEncoding TnqEncodingForIANACharSetName(std::string_view name) {
  if (name.empty()) return 0;
  std::string lowered(name);
  for (auto& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lowered == "utf-8" || lowered == "utf8") return kTnqUTF8StringEncoding;
  UErrorCode status = U_ZERO_ERROR;
  const char* canonical = ucnv_getCanonicalName(lowered.c_str(), "IANA", &status);
  if (U_FAILURE(status) || !canonical) {
    status = U_ZERO_ERROR;
    canonical = ucnv_getAlias(lowered.c_str(), 0, &status);
    if (U_FAILURE(status) || !canonical) return 0;
  }
  for (const auto& entry : kEncodings) {
    UErrorCode st = U_ZERO_ERROR;
    if (ucnv_compareNames(ucnv_getAlias(entry.converter, 0, &st), canonical) == 0) return entry.encoding;
  }
  return 0;
}

std::optional<std::string> TnqDecodeText(std::string_view bytes, TnqStringEncoding encoding) {
  if (encoding == kTnqUTF8StringEncoding) {
    if (!pf::isValidUtf8(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  if (encoding == kTnqASCIIStringEncoding) {
    if (!isAscii(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  return convert(bytes, "UTF-8", converterName(encoding));
}

std::optional<std::string> TnqDecodeText(const pf::Bytes& bytes, TnqStringEncoding encoding) {
  return TnqDecodeText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), encoding);
}

std::optional<std::string> TnqEncodeText(std::string_view text, TnqStringEncoding encoding) {
  if (encoding == kTnqUTF8StringEncoding) return std::string(text);
  if (encoding == kTnqASCIIStringEncoding) {
    if (!isAscii(text)) return std::nullopt;
    return std::string(text);
  }
  return convert(text, converterName(encoding), "UTF-8");
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
