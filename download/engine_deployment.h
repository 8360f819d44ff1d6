#pragma once

#include <functional>

#include "download/engine_binding.h"
#include "runtime/program_files.h"
#include "runtime/value_types.h"

namespace pandrel {

// Receives one work-log line; the window side stamps it with the time.
using LogSink = std::function<void(const Text& message)>;

// The line a deployment logs once the engine's files are in place, before it initialises the
// engine: a false result after this line means the engine did not start.
inline constexpr const char* kEngineFilesReleased = "释放程序下载引擎文件完成";

// Releases the engine's support files into `engineDir` (set to EngineDirectoryOf(runDir)
// first) and initialises the engine. Every start writes and unpacks the whole archive again,
// replacing the released files; files in the folder that are not members are left alone. The
// first failing step logs its one line and gives false; the engine is initialised only after a
// complete release. True only when the release succeeded and Init returned nonzero.
bool DeployEngine(const Text& runDir, const Bytes& engineArchive, const LogSink& appendLog,
                  EngineApi& engine, Text& engineDir);
// The same with the archive carried inside the program.
bool DeployEngine(const Text& runDir, const LogSink& appendLog, EngineApi& engine, Text& engineDir);

// Writes `gzipLibrary` to GzipLibraryPathOf(runDir) unless a file or directory of that name
// already exists. The outcome is not reported: nothing in the program loads the library.
void ReleaseGzipLibrary(const Text& runDir, const Bytes& gzipLibrary);
// The same with the library carried inside the program.
void ReleaseGzipLibrary(const Text& runDir);

} // namespace pandrel
