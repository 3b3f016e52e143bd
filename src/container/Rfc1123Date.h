#pragma once
// HTTP dates: reading the three forms HTTP allows and writing the preferred one.

#include <optional>
#include <string>
#include <string_view>

namespace container::RFC1123 {

// Seconds since 1970 of an HTTP date in one of three forms, tried in this order:
//   "Sun, 06 Nov 1994 08:49:37 GMT"   (RFC 1123)
//   "Sunday, 06-Nov-94 08:49:37 GMT"  (RFC 850; two-digit years 69..99 are 19xx, 00..68 20xx)
//   "Sun Nov  6 08:49:37 1994"        (the C library's asctime form)
// Every form is read as GMT, whatever the process's time zone; the first two must name the
// zone GMT or UTC. Text after the date is ignored, as the C library's parser does. nullopt when
// no form matches (or for no text).
std::optional<double> dateFromRFC1123(const std::optional<std::string_view>& text);

// "Sun, 06 Nov 1994 08:49:37 GMT" for the whole second holding the instant; nullopt for an
// instant that cannot be written so (not finite, or a year beyond four digits and then some).
std::optional<std::string> rfc1123String(double secondsSince1970);

}  // namespace container::RFC1123
