#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// The program's own files and folders, each path built here and nowhere else. `runDir` is
// RunDir, without a trailing slash: the program's folder, or the user's data folder when the
// program may not write its own (runtime/program_folders.h).

// The downloaded files: WorkDir.
inline Text WorkDirectoryOf(const Text& runDir) {
    return runDir + "/下载目录/";
}

// WorkDir of a copy that may not write its own folder: a folder of its own inside the user's
// download folder (runtime/program_folders.h).
inline Text UserWorkDirectoryOf(const Text& downloadFolder) {
    return downloadFolder + "/Pandrel/";
}

// The engine's companion process and its support files: EngineDir.
inline Text EngineDirectoryOf(const Text& runDir) {
    return runDir + "/DownLoad/";
}

// The carried gzip library.
inline Text GzipLibraryPathOf(const Text& runDir) {
    return runDir + "/libgzip.so";
}

// The record file: the last listing, restored at start-up.
inline Text RecordFilePathOf(const Text& runDir) {
    return runDir + "/test.txt";
}

// A file or folder of this name keeps the last listing from being restored.
inline Text RestoreMarkerPathOf(const Text& runDir) {
    return runDir + "/test";
}

// The deployment values (runtime/deployment.h).
inline Text DeploymentFilePathOf(const Text& runDir) {
    return runDir + "/pandrel.ini";
}

} // namespace pandrel
