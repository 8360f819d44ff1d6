#include "download/engine_binding.h"

namespace pandrel {

LibraryEngine::LibraryEngine(const char* library)
    : m_setHostFolder(library, "DL_SetHostFolder"), m_init(library, "DL_Init"),
      m_createTask(library, "DL_CreateTask"), m_startTask(library, "DL_StartTask"),
      m_queryTaskInfoEx(library, "DL_QueryTaskInfoEx"), m_stopTask(library, "DL_StopTask"),
      m_deleteTask(library, "DL_DeleteTask") {}

std::int32_t LibraryEngine::SetHostFolder(const Text& folder) {
    return m_setHostFolder.Get()(folder.c_str());
}

std::int32_t LibraryEngine::Init() {
    return m_init.Get()();
}

std::int32_t LibraryEngine::CreateTask(const void* params) {
    return m_createTask.Get()(params);
}

std::int32_t LibraryEngine::StartTask(std::int32_t handle) {
    return m_startTask.Get()(handle);
}

std::int32_t LibraryEngine::QueryTaskInfoEx(std::int32_t handle, void* status) {
    return m_queryTaskInfoEx.Get()(handle, status);
}

std::int32_t LibraryEngine::StopTask(std::int32_t handle) {
    return m_stopTask.Get()(handle);
}

std::int32_t LibraryEngine::DeleteTask(std::int32_t handle) {
    return m_deleteTask.Get()(handle);
}

} // namespace pandrel
