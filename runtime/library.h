#pragma once

#include <atomic>

#include "runtime/value_types.h"

namespace pandrel {

// Binds a function of an outside library by file name and function name. A bare file name is
// looked for beside the program first, then through the normal library search. The library
// stays loaded. A library that cannot be loaded, or lacks the function, is a fatal runtime
// error: "无法找到指定DLL库文件“<library>”中的输出命令“<function>”".
void* BindLibraryFunction(const Text& library, const Text& function);

// As above, but gives nullptr instead of ending the process.
void* TryBindLibraryFunction(const Text& library, const Text& function);

// Binds on first call and keeps the address: one object per outside function.
template <typename Signature> class LibraryFunction {
public:
    LibraryFunction(const char* library, const char* function)
        : m_library(library), m_function(function) {}

    Signature* Get() {
        Signature* bound = m_bound.load(std::memory_order_acquire);
        if (bound == nullptr) {
            bound = reinterpret_cast<Signature*>(BindLibraryFunction(m_library, m_function));
            m_bound.store(bound, std::memory_order_release);
        }
        return bound;
    }

private:
    const char* m_library;
    const char* m_function;
    std::atomic<Signature*> m_bound{nullptr};
};

} // namespace pandrel
