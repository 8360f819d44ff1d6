#pragma once

namespace pandrel {

// The dynamic property that marks a control the window places beyond its visible width: it
// stays in the window, its handlers and properties work, but nobody can see or reach it.
inline constexpr const char* kPlacedOutOfViewProperty = "placedOutOfView";

// Makes a screen reader see marked controls as they are: while a marked control lies wholly
// outside its window's client area it is reported as off-screen, so never as showing. Call once
// the application object exists and before any marked control has been asked about; calling
// it again changes nothing.
void InstallOutOfViewAccessibility();

} // namespace pandrel
