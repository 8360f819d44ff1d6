#include "runtime/array.h"
#include "runtime/bytes.h"
#include "runtime/fatal.h"
#include "runtime/library.h"
#include "runtime/numbers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace pandrel {
namespace {

using testing::ExitedWithCode;

TEST(FatalText, LayoutWithAndWithoutCode) {
    EXPECT_EQ(FatalErrorText("坏", 4, "here"),
              "运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：坏\r\n\r\n出错位置：here\r\n");
    EXPECT_EQ(FatalErrorText("坏", std::nullopt, "here"),
              "运行时出错!\r\n\r\n错误信息：坏\r\n\r\n出错位置：here\r\n");
}

TEST(ArrayIndex, OneBasedInsideTheCount) {
    Array<int> values{10, 20};
    values.Append(30);
    EXPECT_EQ(values.Count(), 3);
    EXPECT_EQ(values[1], 10);
    EXPECT_EQ(values[3], 30);
    values[2] = 5;
    EXPECT_EQ(values.Members(), (std::vector<int>{10, 5, 30}));
}

// The message each fatal error must show on stderr (no presenter is installed here).
TEST(FatalDeathTest, EachErrorShowsItsMessageAndExits255) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Array<int> values{1};
    EXPECT_EXIT(values[0], ExitedWithCode(255),
                "错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1");
    EXPECT_EXIT(values[2], ExitedWithCode(255),
                "错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围");
    EXPECT_EXIT(CheckChoiceIndex(0, 3), ExitedWithCode(255), "错误代码：9\r\n");
    EXPECT_EXIT(CheckChoiceIndex(4, 3), ExitedWithCode(255), "超出了所提供参数表范围");
    EXPECT_EXIT(Remainder({1, 0}), ExitedWithCode(255),
                "^运行时出错!\r\n\r\n错误信息：不能求余数于零");
    EXPECT_EXIT(ReadFromBytes(Bytes{1}, 11), ExitedWithCode(255), "“欲取出数据的类型”参数值无效");
    EXPECT_EXIT(ReadFromBytes(Bytes{1}, 0), ExitedWithCode(255), "参数值无效");
    CheckChoiceIndex(1, 3);
    CheckChoiceIndex(3, 3);
}

void WriteMarkerPresenter(const Text& text) {
    Text marked = "presented<" + text + ">";
    ssize_t ignored = ::write(STDERR_FILENO, marked.data(), marked.size());
    (void)ignored;
}

TEST(FatalDeathTest, InstalledPresenterShowsTheText) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetFatalErrorPresenter(WriteMarkerPresenter);
            FatalRuntimeError("消息", 7);
        },
        ExitedWithCode(255),
        "presented<运行时出错!\r\n\r\n错误代码：7\r\n\r\n错误信息：消息\r\n\r\n出错位置：fatal_"
        "test\\.cpp:[0-9]+ ");
}

void FailingPresenter(const Text&) {
    Remainder({1, 0});
}

TEST(FatalDeathTest, PresenterThatFailsStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetFatalErrorPresenter(FailingPresenter);
            FatalRuntimeError("first", 2);
        },
        ExitedWithCode(255), "错误信息：不能求余数于零");
}

TEST(LibraryBinding, BindsOnceAndKeepsTheAddress) {
    using StrlenFn = std::size_t(const char*);
    LibraryFunction<StrlenFn> strlenFn("libc.so.6", "strlen");
    EXPECT_EQ(strlenFn.Get()("abcd"), 4u);
    EXPECT_EQ(strlenFn.Get(), strlenFn.Get());
    EXPECT_EQ(BindLibraryFunction("libc.so.6", "strlen"), reinterpret_cast<void*>(strlenFn.Get()));
    EXPECT_EQ(TryBindLibraryFunction("libc.so.6", "no_such_function_xyz"), nullptr);
    EXPECT_EQ(TryBindLibraryFunction("libno-such-library.so", "strlen"), nullptr);
    EXPECT_EQ(TryBindLibraryFunction("libc.so.6", ""), nullptr);
}

TEST(LibraryBindingDeathTest, MissingLibraryOrFunctionIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(BindLibraryFunction("libdlengine-missing.so", "DL_Init"), ExitedWithCode(255),
                "错误信息：无法找到指定DLL库文件“libdlengine-missing.so”中的输出命令“DL_Init”\r\n");
    EXPECT_EXIT(BindLibraryFunction("libc.so.6", "DL_Init"), ExitedWithCode(255),
                "无法找到指定DLL库文件“libc.so.6”中的输出命令“DL_Init”");
}

} // namespace
} // namespace pandrel
