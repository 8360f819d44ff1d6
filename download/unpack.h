#pragma once

#include <functional>

#include "runtime/value_types.h"

namespace pandrel {

// Progress of an unpack in percent of the members done; nobody has to listen.
using UnpackProgress = std::function<void(int percent)>;

// Unpacks the zip archive at `archivePath` into `targetDir`, creating every missing level of
// the target. Members are handled in archive order: a directory member makes that directory,
// a file member replaces any file of its name with a newly created one that gets the member's
// time stamp and the mode any new file gets under the umask: 0777 less the umask for a member
// the archive marks executable, 0666 less the umask for any other, always readable and
// writable by its owner. Gives 1 when every member was written; -1 when either argument is empty or
// the archive does not exist; 0 for any other failure (not a zip archive, unreadable or
// corrupt data, target not creatable, a member not writable). The first member that cannot be
// written ends the unpack: the members before it stay, the later ones are not written.
//
// Nothing is ever written outside the target: an absolute member name, a ".." component or a
// path through a symbolic link counts as a member that cannot be written. An existing file
// without its owner's write permission is read-only and is not replaced. Each member is
// written to a temporary name and renamed into place, so a failure never leaves a half-written
// member under its own name.
int UnpackArchive(const Text& archivePath, const Text& targetDir,
                  const UnpackProgress& progress = {});

} // namespace pandrel
