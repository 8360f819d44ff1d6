// pandrel-get: the window's main job from a terminal. It reads a share text, asks the parse
// service for the listing and downloads the chosen files through the download engine, with
// the same extraction, request and listing rules as the window.

#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "download/engine_binding.h"
#include "download_run.h"
#include "file_choice.h"
#include "progress_view.h"
#include "runtime/encoding.h"
#include "runtime/files.h"
#include "runtime/library.h"
#include "runtime/processes.h"
#include "runtime/program_folders.h"
#include "runtime/ui/deployment_loader.h"
#include "share/listing_request.h"

namespace pandrel::get {
namespace {

constexpr int kAllDone = 0;
constexpr int kSomeFailed = 1;
constexpr int kBadShare = 2;

constexpr auto kPlainProgressInterval = std::chrono::seconds(10);
constexpr auto kHostEndGrace = std::chrono::seconds(5);

// The signal that asked the run to stop, 0 while none did.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void OnStopSignal(int signal) {
    g_stopSignal.store(signal);
    // A second Ctrl-C ends the program at once; the engine's host still saves on its own.
    std::signal(signal, SIG_DFL);
}

void Say(const Text& line) {
    std::fprintf(stderr, "pandrel-get：%s\n", line.c_str());
}

// The share text from standard input, at most a listing's worth (nobody pastes more).
std::optional<Text> ReadShareText() {
    if (isatty(STDIN_FILENO)) {
        return std::nullopt; // no prompts: a person gives the text as an argument
    }
    Text text;
    char chunk[65536];
    std::size_t got = 0;
    while (text.size() < kMaxListingBytes &&
           (got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) {
        text.append(chunk, got);
    }
    return text;
}

// The folder as the engine wants it: absolute, ending in "/"; created when missing.
std::optional<Text> SaveFolder(const Text& dir) {
    if (!EnsureDirectory(dir)) {
        return std::nullopt;
    }
    char* resolved = realpath(dir.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    Text folder = resolved;
    std::free(resolved);
    return folder.back() == '/' ? folder : folder + "/";
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Download(const CommandLine& line, const std::vector<ChosenFile>& files) {
    if (files.empty()) {
        return kAllDone; // a share without files: nothing to fetch, nothing to start
    }
    const std::optional<Text> folder = SaveFolder(line.dir);
    if (!folder) {
        Say("无法创建或打开下载目录：" + line.dir);
        return kSomeFailed;
    }
    if (line.connections) {
        // The engine's host takes its settings from the environment it inherits.
        setenv("DLENGINE_CONNECTIONS", std::to_string(*line.connections).c_str(), 1);
    }
    if (TryBindLibraryFunction(kEngineLibraryName, "DL_Init") == nullptr) {
        Say(Text("找不到下载引擎 ") + kEngineLibraryName);
        return kSomeFailed;
    }
    InstallStopHandlers();
    LibraryEngine engine;
    if (engine.Init() == 0) {
        Say("下载引擎无法启动");
        return kSomeFailed;
    }
    const bool toTerminal = isatty(STDOUT_FILENO) != 0;
    std::unique_ptr<ProgressView> view = line.verbosity == Verbosity::Quiet ? SilentProgress()
                                         : toTerminal
                                             ? TerminalProgress(stdout)
                                             : PlainProgress(stdout, kPlainProgressInterval);
    const std::vector<FileOutcome> outcomes =
        RunDownloads(engine, files, {*folder, line.jobs}, *view, g_stopSignal);
    // The host saves on SIGTERM; waiting for it means a run started right after finds every
    // file free and every byte recorded.
    EndChildProcesses("dlhost", kHostEndGrace);

    bool allDone = true;
    for (const FileOutcome& outcome : outcomes) {
        std::printf("%d\t%s\t%s\n", outcome.file.number, ResultText(outcome.result),
                    ShownName(outcome.file.entry.name).c_str());
        allDone = allDone &&
                  (outcome.result == FileResult::Finished || outcome.result == FileResult::Existed);
    }
    std::fflush(stdout);
    if (const int signal = g_stopSignal.load(); signal != 0) {
        Say("已中断；再次运行同一命令即可继续下载");
        return 128 + signal;
    }
    return allDone ? kAllDone : kSomeFailed;
}

int Main(int argc, char** argv) {
    // Texts are UTF-8 whatever the user's locale; the terminal widths of characters too.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    Text error;
    const std::optional<CommandLine> parsed = ParseCommandLine(argc, argv, error);
    if (!parsed) {
        Say(error + "（用 --help 查看用法）");
        return kBadShare;
    }
    const CommandLine& line = *parsed;
    if (line.help) {
        std::fputs(HelpText().c_str(), stdout);
        return kAllDone;
    }
    if (line.version) {
        std::printf("pandrel-get %s\n", PANDREL_VERSION);
        return kAllDone;
    }
    const std::optional<Text> input = line.shareText ? line.shareText : ReadShareText();
    if (!input) {
        Say("没有分享文本：请作为参数给出，或从标准输入送入（用 --help 查看用法）");
        return kBadShare;
    }
    // The window's settings, from where the window reads them: beside the program, or in the
    // user's data folder when the program's folder is not the user's to write.
    const Deployment deployment =
        LoadDeployment(ProgramFoldersFor(RunDirectory(), UserEnvironmentOfThisProcess()).runDir);
    const Text shareText = Utf8ToText(*input);
    const ShareLink link = ExtractShareLink(shareText, deployment.shareHost);
    if (link.id.empty()) {
        Say(ParseFailureText({ParseFailure::NoShareLink, 0}));
        return kBadShare;
    }
    const Text url = BuildParseRequestUrl(line.service.value_or(deployment.parseService), link);
    if (line.verbosity == Verbosity::Verbose) {
        Say("正在解析：" + shareText);
        Say("请求：" + url);
    }
    const ListingAnswer answer =
        FetchListingPage(url, std::chrono::steady_clock::now() + kParseTimeLimit);
    if (answer.outcome.failure != ParseFailure::None) {
        Say(ParseFailureText(answer.outcome));
        return kBadShare;
    }
    const Listing& listing = answer.listing;
    if (line.verbosity != Verbosity::Quiet) {
        Say(ParseSuccessText(deployment.shareHost, link, listing.rowCount));
    }
    const std::vector<FileEntry> rows = ListingRows(listing.text, listing.rowCount).Members();
    if (line.listOnly) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            std::printf("%zu\t%s\t%s\n", i + 1, ShownName(rows[i].name).c_str(),
                        ShownName(rows[i].size).c_str());
        }
        return kAllDone;
    }
    const auto files = ChooseFiles(rows, line.only, error);
    if (!files) {
        Say(error);
        return kBadShare;
    }
    return Download(line, *files);
}

} // namespace
} // namespace pandrel::get

int main(int argc, char** argv) {
    return pandrel::get::Main(argc, argv);
}
