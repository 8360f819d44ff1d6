#pragma once

#include <functional>

namespace pandrel {

// Runs `work` on a thread of its own and returns once it has ended. Meanwhile the calling UI
// thread keeps serving every event but the user's input: the window paints, timers fire and
// other threads' control calls are carried out, while clicks and keys are held until the work
// has ended, so no handler starts inside the waiting one. `work` must not touch widgets. Only
// the UI thread may call this; before the application object exists `work` runs directly.
void RunWhileWindowPaints(const std::function<void()>& work);

} // namespace pandrel
