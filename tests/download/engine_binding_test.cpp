#include "download/engine_binding.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// A library or a function that cannot be found ends the program with the error naming both,
// on the first call of that function.
TEST(EngineBindingDeathTest, MissingLibraryOrFunctionIsFatal) {
    struct Case {
        const char* library;
        std::function<void(pandrel::LibraryEngine&)> call;
        const char* message;
    } cases[] = {
        {"libpandrel-no-such-engine.so", [](pandrel::LibraryEngine& e) { e.Init(); },
         "无法找到指定DLL库文件“libpandrel-no-such-engine.so”中的输出命令“DL_Init”"},
        {"libpandrel-no-such-engine.so", [](pandrel::LibraryEngine& e) { e.StopTask(1); },
         "无法找到指定DLL库文件“libpandrel-no-such-engine.so”中的输出命令“DL_StopTask”"},
        // A real library without the engine's functions.
        {"libz.so.1", [](pandrel::LibraryEngine& e) { e.QueryTaskInfoEx(1, nullptr); },
         "无法找到指定DLL库文件“libz.so.1”中的输出命令“DL_QueryTaskInfoEx”"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        pandrel::LibraryEngine engine(c.library);
        EXPECT_EXIT(c.call(engine), testing::ExitedWithCode(255), c.message);
    }
}

} // namespace
