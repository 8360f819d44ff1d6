#include "runtime/library.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <utility>

#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "runtime/files.h"

namespace pandrel {

namespace {

// Libraries stay loaded for the life of the process, so bound addresses never dangle.
struct Bindings {
    std::mutex mutex;
    std::map<Text, void*> libraries;
    std::map<std::pair<Text, Text>, void*> functions;
};

Bindings& TheBindings() {
    static Bindings* bindings = new Bindings; // never destroyed: workers may bind during exit
    return *bindings;
}

// A bare file name is looked for beside the program first, then by the normal search; a name
// with a directory in it is loaded from there only.
void* OpenLibrary(const Text& library) {
    if (library.empty()) {
        return nullptr;
    }
    if (library.find('/') == Text::npos) {
        Text beside = RunDirectory() + "/" + library;
        if (void* handle = ::dlopen(beside.c_str(), RTLD_NOW)) {
            return handle;
        }
    }
    return ::dlopen(library.c_str(), RTLD_NOW);
}

} // namespace

void* TryBindLibraryFunction(const Text& library, const Text& function) {
    if (function.empty()) {
        return nullptr;
    }
    Bindings& bindings = TheBindings();
    std::lock_guard lock(bindings.mutex);
    auto key = std::make_pair(library, function);
    if (auto found = bindings.functions.find(key); found != bindings.functions.end()) {
        return found->second;
    }
    void*& handle = bindings.libraries[library];
    if (handle == nullptr) {
        handle = OpenLibrary(library);
        if (handle == nullptr) {
            return nullptr;
        }
    }
    void* address = ::dlsym(handle, function.c_str());
    if (address != nullptr) {
        bindings.functions.emplace(std::move(key), address);
    }
    return address;
}

void* BindLibraryFunction(const Text& library, const Text& function) {
    void* address = TryBindLibraryFunction(library, function);
    if (address == nullptr) {
        FatalRuntimeError(
            FormatText("无法找到指定DLL库文件“%s”中的输出命令“%s”", library, function));
    }
    return address;
}

} // namespace pandrel
