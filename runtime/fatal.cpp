#include "runtime/fatal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace pandrel {

namespace {

std::atomic<FatalErrorPresenter> g_presenter{nullptr};
std::atomic<bool> g_raised{false};

Text LocationOf(const char* file, int line, const char* function) {
    if (file == nullptr) {
        return "?";
    }
    if (const char* slash = std::strrchr(file, '/')) {
        file = slash + 1;
    }
    return Text(file) + ":" + std::to_string(line) + " " + (function == nullptr ? "" : function);
}

void WriteAll(int fd, const Text& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

Text FatalErrorText(const Text& message, std::optional<int> code, const Text& location) {
    Text text = "运行时出错!\r\n";
    if (code) {
        text += "\r\n错误代码：" + std::to_string(*code) + "\r\n";
    }
    text += "\r\n错误信息：" + message + "\r\n";
    text += "\r\n出错位置：" + location + "\r\n";
    return text;
}

void SetFatalErrorPresenter(FatalErrorPresenter presenter) {
    g_presenter.store(presenter, std::memory_order_release);
}

[[noreturn]] void FatalRuntimeError(const Text& message, std::optional<int> code, const char* file,
                                    int line, const char* function) {
    thread_local bool raising = false;
    if (raising) {
        // The presenter itself failed: no second box, end at once.
        WriteAll(STDERR_FILENO, FatalErrorText(message, code, LocationOf(file, line, function)));
        std::_Exit(255);
    }
    raising = true;
    if (g_raised.exchange(true)) {
        // One box per process: a second failing thread waits for the first to end it.
        for (;;) {
            ::pause();
        }
    }
    Text text = FatalErrorText(message, code, LocationOf(file, line, function));
    if (FatalErrorPresenter presenter = g_presenter.load(std::memory_order_acquire)) {
        presenter(text);
    } else {
        WriteAll(STDERR_FILENO, text);
    }
    std::fflush(nullptr);
    // _Exit skips static destructors and atexit handlers, which other threads may still be
    // using; nothing is saved after a fatal error anyway.
    std::_Exit(255);
}

void CheckChoiceIndex(int index, int count) {
    if (index < 1 || index > count) {
        FatalRuntimeError("“多项选择”命令的索引值参数小于零或超出了所提供参数表范围", 9);
    }
}

} // namespace pandrel
