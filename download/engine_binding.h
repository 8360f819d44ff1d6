#pragma once

#include <cstdint>

#include "runtime/library.h"

namespace pandrel {

// The operations of the download engine. Task code talks to the engine through this
// interface only, so that it can run against the real library or, in tests, against a
// double that records the calls. Every result is the engine's own 32-bit value; only Init's
// is examined by the program (nonzero = ready).
class EngineApi {
public:
    virtual ~EngineApi() = default;

    // Where the engine starts its process from: `folder` (EngineDir) holds dlhost. Without the
    // call, "DownLoad/" beside the engine library. 1 when taken.
    virtual std::int32_t SetHostFolder(const Text& folder) = 0;
    virtual std::int32_t Init() = 0;
    // `params` is the block of a filled TaskCreateParams record; gives the task handle.
    virtual std::int32_t CreateTask(const void* params) = 0;
    virtual std::int32_t StartTask(std::int32_t handle) = 0;
    // Overwrites the TaskStatusInfo block at `status` with the task's current state.
    virtual std::int32_t QueryTaskInfoEx(std::int32_t handle, void* status) = 0;
    virtual std::int32_t StopTask(std::int32_t handle) = 0;
    virtual std::int32_t DeleteTask(std::int32_t handle) = 0;
};

// The engine library's file name, looked for beside the program first.
inline constexpr const char* kEngineLibraryName = "libdlengine.so";

// The engine reached through its shared library. Each function is bound on its first call and
// kept; a library or function that cannot be found ends the process with the fatal runtime
// error naming both. Safe to call from several threads at once (binding is idempotent).
class LibraryEngine final : public EngineApi {
public:
    explicit LibraryEngine(const char* library = kEngineLibraryName);

    std::int32_t SetHostFolder(const Text& folder) override;
    std::int32_t Init() override;
    std::int32_t CreateTask(const void* params) override;
    std::int32_t StartTask(std::int32_t handle) override;
    std::int32_t QueryTaskInfoEx(std::int32_t handle, void* status) override;
    std::int32_t StopTask(std::int32_t handle) override;
    std::int32_t DeleteTask(std::int32_t handle) override;

private:
    // The engine's functions use the C calling convention with 32-bit integers and addresses.
    LibraryFunction<std::int32_t(const char*)> m_setHostFolder;
    LibraryFunction<std::int32_t()> m_init;
    LibraryFunction<std::int32_t(const void*)> m_createTask;
    LibraryFunction<std::int32_t(std::int32_t)> m_startTask;
    LibraryFunction<std::int32_t(std::int32_t, void*)> m_queryTaskInfoEx;
    LibraryFunction<std::int32_t(std::int32_t)> m_stopTask;
    LibraryFunction<std::int32_t(std::int32_t)> m_deleteTask;
};

} // namespace pandrel
