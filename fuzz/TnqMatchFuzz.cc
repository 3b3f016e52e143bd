// Validators, patterns and measures on arbitrary text: no crash and no hang (matches stop at
// their limits); an accepted IP address is four runs of digits; GB 18030 takes at least a byte a
// character; initials are never longer than the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/TnqStringExtension.h"
#include "platform/foundation/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace app::TnqExtension;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // Before the first NUL: a pattern; after it: the text (or the whole input as both).
  std::size_t nul = input.find('\0');
  std::string_view pattern = nul == std::string_view::npos ? input : input.substr(0, nul);
  std::string_view text = nul == std::string_view::npos ? input : input.substr(nul + 1);

  (void)tnqMatch(text, pattern);
  (void)(tnqIsNormal(text) + tnqIsUserName(text) + tnqIsChineseUserName(text) + tnqIsEmail(text) + tnqIsURL(text) +
         tnqIsTelephone(text) + tnqIsTelephone2(text) + tnqIsNickname(text) + tnqIsHasCharacterAndNumber(text));
  if (tnqIsUserName(text) && (text.size() < 3 || text.size() > 20)) std::abort();

  if (tnqIsIPAddress(text)) {
    int dots = 0;
    for (char c : text) {
      if (c == '.') ++dots;
      else if (c < '0' || c > '9') std::abort();
    }
    if (dots != 3) std::abort();
  }
  if (pf::isValidUtf8(text)) {
    std::size_t gb = tnqGetLength2(text);
    if (gb != 0 && gb < pf::utf16Length(text) / 2) std::abort();
    if (tnqGetLength(text) > 2 * pf::utf16Length(text)) std::abort();
    if (tnqStringByInitials(text).size() > text.size()) std::abort();
  }
  return 0;
}
