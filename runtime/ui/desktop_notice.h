#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// Shows a desktop notification through the freedesktop notifications service on the session
// bus, unless the window of that control name is the active window: the user sees it already.
// Any thread may call it and none waits: it is posted to the UI thread, and the call to the
// service is sent without waiting for a reply. Without a session bus or a service
// nothing happens.
void NotifyUnlessActive(const Text& window, const Text& summary, const Text& body);

} // namespace pandrel
