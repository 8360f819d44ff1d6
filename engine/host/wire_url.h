#pragma once

#include <string>

namespace dlengine {

// The URL as it goes out on the wire: the fragment dropped, and in the path and query every
// byte a request line cannot carry (space, control bytes, DEL and every byte of 0x80 and above)
// percent-encoded. The host part is kept as given: a bracketed IPv6 literal stays as it is,
// and an internationalised name is converted by libcurl. Empty when the result is not an http
// or https URL with a host that libcurl can parse.
std::string ToWireUrl(const std::string& url);

} // namespace dlengine
