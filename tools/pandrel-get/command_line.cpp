#include "command_line.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>

namespace pandrel::get {
namespace {

// A whole decimal number within [low, high]; nothing otherwise.
std::optional<std::int32_t> NumberIn(const Text& text, std::int32_t low, std::int32_t high) {
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

constexpr option kLongOptions[] = {
    {"list", no_argument, nullptr, 'l'},
    {"only", required_argument, nullptr, 'n'},
    {"dir", required_argument, nullptr, 'd'},
    {"connections", required_argument, nullptr, 'c'},
    {"jobs", required_argument, nullptr, 'j'},
    {"service", required_argument, nullptr, 's'},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

} // namespace

std::optional<std::vector<NumberSpan>> ParseNumberList(const Text& list) {
    std::vector<NumberSpan> spans;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const Text item = list.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        const auto first = NumberIn(item.substr(0, dash), 1, INT32_MAX);
        const auto last =
            dash == Text::npos ? first : NumberIn(item.substr(dash + 1), 1, INT32_MAX);
        if (!first || !last || *last < *first) {
            return std::nullopt;
        }
        spans.push_back({*first, *last});
        start = comma + 1;
    }
    return spans;
}

std::optional<CommandLine> ParseCommandLine(int argc, char** argv, Text& error) {
    CommandLine line;
    opterr = 0; // the messages below are the program's own
    optind = 0; // a fresh scan, also when called more than once
    int choice = 0;
    while ((choice = getopt_long(argc, argv, ":ln:d:c:j:qvhV", kLongOptions, nullptr)) != -1) {
        const Text value = optarg != nullptr ? optarg : "";
        switch (choice) {
        case 'l':
            line.listOnly = true;
            break;
        case 'n':
            line.only = ParseNumberList(value);
            if (!line.only) {
                error = "文件序号列表无效：“" + value + "”（例如 1,3-5）";
                return std::nullopt;
            }
            break;
        case 'd':
            if (value.empty()) {
                error = "下载目录不能为空";
                return std::nullopt;
            }
            line.dir = value;
            break;
        case 'c':
            line.connections = NumberIn(value, 1, kMaxConnections);
            if (!line.connections) {
                error = "连接数应为 1 到 " + std::to_string(kMaxConnections) + "：“" + value + "”";
                return std::nullopt;
            }
            break;
        case 'j': {
            const auto jobs = NumberIn(value, 1, kMaxJobs);
            if (!jobs) {
                error =
                    "同时下载的文件数应为 1 到 " + std::to_string(kMaxJobs) + "：“" + value + "”";
                return std::nullopt;
            }
            line.jobs = *jobs;
            break;
        }
        case 's':
            if (value.empty()) {
                error = "解析服务地址不能为空";
                return std::nullopt;
            }
            line.service = value;
            break;
        case 'q':
            line.verbosity = Verbosity::Quiet;
            break;
        case 'v':
            line.verbosity = Verbosity::Verbose;
            break;
        case 'h':
            line.help = true;
            return line;
        case 'V':
            line.version = true;
            return line;
        case ':':
            error = "选项 " + Text(argv[optind - 1]) + " 需要一个值";
            return std::nullopt;
        default:
            error = "未知选项：" + Text(argv[optind - 1]);
            return std::nullopt;
        }
    }
    if (optind < argc) {
        line.shareText = argv[optind++];
    }
    if (optind < argc) {
        error = "多余的参数：" + Text(argv[optind]) + "（分享文本含空格时请加引号）";
        return std::nullopt;
    }
    return line;
}

Text HelpText() {
    return R"(用法：pandrel-get [选项] [分享文本]
下载网盘分享链接中的文件，与 Pandrel 窗口用同一套解析规则和下载引擎。

  分享文本              窗口所接受的分享文本（"链接：… 提取码：…"）；
                        不给出时从标准输入读取
  -l, --list            列出文件（序号、文件名、大小，以制表符分隔）后退出
  -n, --only 列表       只下载这些序号的文件，例如 1,3-5
  -d, --dir 目录        文件存放的目录（默认：当前目录；不存在时创建）
  -c, --connections N   每个文件的连接数（1 到 64）
  -j, --jobs N          同时下载的文件数（1 到 16，默认 3）
      --service 地址    解析服务（默认：窗口的 pandrel.ini，其次内置地址）
  -q, --quiet           只输出错误和最后的汇总
  -v, --verbose         另外输出解析请求和失败原因的细节
  -h, --help            显示本说明
  -V, --version         显示版本

再次运行同一命令，会从中断（Ctrl-C）或崩溃的地方继续下载；目录中已有的
同名文件不会被覆盖，也不会重新下载。

输出到终端时，每个正在下载的文件一行（进度条、百分比、速度、剩余时间），另有
一行合计，原地刷新；输出不是终端时，每个文件开始和结束各一行，另每 10 秒一行
合计。最后的汇总每个文件一行：序号、结果、文件名，以制表符分隔；结果为
已完成、已存在、下载失败、已跳过或未完成之一。文件名中的控制字符写作 \xNN。

退出状态：0 所选文件全部完成；1 有文件失败或被跳过；2 分享文本、选项或
文件列表有误；130 被 Ctrl-C 中断（143 被 SIGTERM 终止）。
)";
}

} // namespace pandrel::get
