#pragma once

namespace pandrel {

// Makes the fatal runtime error show a modal critical message box on the UI thread (from any
// thread). Without a window system (no application object, or the offscreen or minimal
// platform) the text goes to stderr instead, so an unattended run never waits on a box.
void InstallFatalErrorPresenter();

} // namespace pandrel
