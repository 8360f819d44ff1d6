#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// A cookie text is a run of items "name=value" (an item may lack the "=") joined by "; ".
// An item ending in "=deleted" stands for a cookie the server removed.

// The text before the item's first "=", or the whole item when it has none, trimmed.
Text CookieName(const Text& item);

// The name=value pairs of every exact-case "Set-Cookie: " line of a raw response header
// block, in header order and without their attributes, joined by "; ". Duplicates stay.
Text CollectSetCookies(const Text& rawHeaders);

// The new cookies first, in the server's order, then the old ones the new text does not
// name; deleted cookies and exact duplicates removed. Of several old items with one name only
// the first survives.
Text MergeCookies(const Text& oldCookies, const Text& newCookies);

// The pieces of text split at separator, each kept once (the first time it occurs), joined
// again with separator.
Text JoinUnique(const Text& text, const Text& separator);

} // namespace pandrel
