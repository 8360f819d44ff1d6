#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// The address the request routine hands to libcurl, built from the routine's own host, port
// and path (HostOf, PortOf, PathOf) so the request goes exactly where they say, with the path
// encoded for the wire. Empty, and nothing is to be sent, when the host is not plain: plain is
// a name of ASCII letters, digits, ".", "-" and "_", an international name whose ASCII form is
// such a name (that form goes on the wire), or an IPv6 address in brackets followed by nothing
// but its port.
Text RequestWireUrl(const Text& url);

// The address the page fetch hands to libcurl: up to the host as given, so libcurl can turn an
// international name into its ASCII form, and from the path on every byte a request line
// cannot carry percent-encoded. A scheme and host holding a blank or control byte are encoded
// too, which libcurl then refuses.
Text PageWireUrl(const Text& url);

} // namespace pandrel
