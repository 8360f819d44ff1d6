#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// The URL splitting of the request routine. Pure text: nothing is validated or resolved.

// The host in lower case (ASCII letters only); with keepPort the ":port" part stays. A URL
// without a scheme is taken as http. A bracketed IPv6 address keeps its brackets: the host of
// "http://[::1]:8580/" is "[::1]".
Text HostOf(const Text& url, bool keepPort);

// The port after the host's last ":" (after the "]" of an IPv6 address), else 443 for a URL
// starting "https" and 80 otherwise. A port text that is not a number gives 0.
int PortOf(const Text& url);

// The rest of the URL from the first "/" after the host, query included and case kept; "/"
// when there is none.
Text PathOf(const Text& url);

// The bytes a request line cannot carry (space, control bytes, DEL and every byte of 0x80 and
// above) percent-encoded; everything else kept. Used only on the way to the wire, so a URL text
// the program shows keeps its bytes while a stray CR or LF can never start a header line.
Text EncodeUrlForWire(const Text& url);

} // namespace pandrel
