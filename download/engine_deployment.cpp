#include "download/engine_deployment.h"

#include "download/unpack.h"
#include "resources/carried_files.h"
#include "runtime/files.h"

namespace pandrel {

bool DeployEngine(const Text& runDir, const Bytes& engineArchive, const LogSink& appendLog,
                  EngineApi& engine, Text& engineDir) {
    engineDir = EngineDirectoryOf(runDir);
    if (!EnsureDirectory(engineDir)) {
        appendLog("创建程序下载引擎目录失败");
        return false;
    }
    const Text archivePath = engineDir + "tmp.zip";
    if (!WriteFile(archivePath, engineArchive)) {
        appendLog("释放程序下载引擎文件失败");
        return false;
    }
    if (UnpackArchive(archivePath, engineDir) != 1) {
        appendLog("解压程序下载引擎文件失败");
        return false;
    }
    if (!DeleteFile(archivePath)) {
        appendLog("清理程序下载引擎残留失败");
        return false;
    }
    appendLog(kEngineFilesReleased);
    // The host is started from where it was released, also when that is not beside the
    // engine library (a program that may not write its own folder).
    engine.SetHostFolder(engineDir);
    // A zero result is not logged: start-up simply stops after it.
    return engine.Init() != 0;
}

bool DeployEngine(const Text& runDir, const LogSink& appendLog, EngineApi& engine,
                  Text& engineDir) {
    return DeployEngine(runDir, EngineArchiveBytes(), appendLog, engine, engineDir);
}

void ReleaseGzipLibrary(const Text& runDir, const Bytes& gzipLibrary) {
    const Text target = GzipLibraryPathOf(runDir);
    if (FileExists(target)) {
        return;
    }
    WriteFile(target, gzipLibrary);
}

void ReleaseGzipLibrary(const Text& runDir) {
    ReleaseGzipLibrary(runDir, GzipLibraryBytes());
}

} // namespace pandrel
