// pandrel-get through its real binary, against share-sim on loopback and the real engine.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "file_choice.h"
#include "progress_file.h"
#include "progress_view.h"
#include "share_sim_process.h"
#include "support/child_process.h"
#include "support/sandbox.h"
#include "support/wait_for.h"

namespace {

namespace fs = std::filesystem;
using pandrel::get::NumberSpan;

const std::string kShareId = "PgAbCdEfGhIjKlMnOpQrStU";
const std::string kCode = "q7Zx";
const std::string kShareText = "链接：https://pan.example.com/s/" + kShareId + " 提取码：" + kCode;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct Finished {
    int status = -1; // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

// pandrel-get as a child process, its output in files of the sandbox.
class GetProcess {
public:
    GetProcess(const std::string& program, std::vector<std::string> args, const std::string& dir)
        : m_outPath(dir + "/out.txt"), m_errPath(dir + "/err.txt") {
        args.insert(args.begin(), program);
        const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int out = open(m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_pid = StartTiedChild(args, in, out, err);
        for (const int fd : {in, out, err}) {
            close(fd);
        }
    }
    ~GetProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    void Signal(int signal) const { kill(m_pid, signal); }
    std::string OutSoFar() const { return ReadWhole(m_outPath); }

    Finished Wait(std::chrono::seconds limit = std::chrono::seconds(120)) {
        Finished done;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_pid = -1;
        done.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        done.out = ReadWhole(m_outPath);
        done.err = ReadWhole(m_errPath);
        return done;
    }

private:
    std::string m_outPath;
    std::string m_errPath;
    pid_t m_pid = -1;
};

class PandrelGetTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        fs::create_directories(ShareDir());
        std::ofstream(ShareDir() + "/.code") << kCode;
        fs::create_directories(Downloads());
    }

    std::string ShareDir() const { return PathOf("shares/" + kShareId); }
    std::string Downloads() const { return PathOf("downloads"); }

    // A file of the share with `size` bytes of a pattern that differs at every offset.
    std::string AddShareFile(const std::string& name, std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
        }
        std::ofstream(ShareDir() + "/" + name, std::ios::binary) << bytes;
        return bytes;
    }

    void StartShareSim(ShareSimProcess& sim, const std::vector<std::string>& args = {}) {
        ASSERT_TRUE(sim.Start(PathOf("shares"), args)) << sim.Error();
    }

    std::vector<std::string> Args(const ShareSimProcess& sim, std::vector<std::string> more) {
        more.insert(more.begin(), {"--service", sim.BaseUrl() + "/", "-d", Downloads()});
        return more;
    }

    Finished Run(const std::vector<std::string>& args) {
        return GetProcess(PANDREL_GET_PATH, args, Dir()).Wait();
    }

    std::string Saved(const std::string& name) const { return ReadWhole(Downloads() + "/" + name); }
};

TEST_F(PandrelGetTest, ListsAShareWithTheServiceAndShareHostOfPandrelIni) {
    AddShareFile("b.bin", 2048);
    AddShareFile("数据 一.txt", 10);
    ShareSimProcess sim;
    StartShareSim(sim);
    // A copy of the program in a folder of its own, with the window's settings file beside it.
    const std::string folder = PathOf("program");
    fs::create_directories(folder);
    fs::copy_file(PANDREL_GET_PATH, folder + "/pandrel-get");
    std::ofstream(folder + "/pandrel.ini")
        << "[deployment]\nparse_service=" << sim.BaseUrl() << "/\nshare_host=disk.example.net\n";
    const std::string text = "链接：https://disk.example.net/s/" + kShareId + "~ 提取码：" + kCode;

    const Finished listed = GetProcess(folder + "/pandrel-get", {"--list", text}, Dir()).Wait();
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "1\tb.bin\t2.00 KB\n2\t数据 一.txt\t10 B\n");
    EXPECT_NE(listed.err.find("解析成功——https://disk.example.net/s/" + kShareId + "~-----" +
                              kCode + "共有：2个文件"),
              std::string::npos)
        << listed.err;
    // The default share host does not match this text: the window would find no link either.
    const std::string defaultHost =
        "链接：https://pan.example.com/s/" + kShareId + " 提取码：" + kCode;
    EXPECT_EQ(GetProcess(folder + "/pandrel-get", {"-l", defaultHost}, Dir()).Wait().status, 2);
}

TEST_F(PandrelGetTest, BadSharesAndCommandLinesExitWithTwoAndTheWindowsTexts) {
    AddShareFile("a.bin", 100);
    ShareSimProcess sim;
    StartShareSim(sim);
    // A service under maintenance, and one whose port is closed again.
    ShareSimProcess maintenance;
    StartShareSim(maintenance, {"--listing-status", "503"});
    ShareSimProcess gone;
    StartShareSim(gone);
    ASSERT_EQ(gone.Stop(), 0);
    const std::string wrongCode = "链接：https://pan.example.com/s/" + kShareId + " 提取码：zzzz";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"no link here 提取码：1234"}, "解析失败：未识别到分享链接和提取码"},
        {{wrongCode}, "解析失败：解析服务没有返回文件列表"},
        // A later --service replaces the one Args gives.
        {{"--service", maintenance.BaseUrl() + "/", kShareText},
         "解析失败：解析服务返回错误（HTTP 503）"},
        {{"--service", gone.BaseUrl() + "/", kShareText}, "解析失败：无法连接解析服务"},
        {{"-n", "2", kShareText}, "没有第 2 个"},
        {{"-n", "3-1", kShareText}, "文件序号列表无效"},
        {{"-c", "65", kShareText}, "连接数应为 1 到 64"},
        {{"--bogus", kShareText}, "未知选项：--bogus"},
        // No text given: standard input (empty here) is read, and holds no link.
        {{}, "解析失败：未识别到分享链接和提取码"},
    };
    for (const Case& c : cases) {
        const Finished run = Run(Args(sim, c.args));
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << c.message;
    }
    EXPECT_TRUE(fs::is_empty(Downloads()));
}

TEST_F(PandrelGetTest, OnlyDownloadsTheChosenNumbersAndLeavesWhatIsAlreadyThere) {
    const std::vector<std::string> names = {"1.bin", "2.bin", "3.bin", "4.bin", "5.bin"};
    std::vector<std::string> bytes;
    for (std::size_t i = 0; i < names.size(); ++i) {
        bytes.push_back(AddShareFile(names[i], 200 * 1024 + i));
    }
    std::ofstream(Downloads() + "/4.bin") << "mine";
    fs::create_directory(Downloads() + "/5.bin");
    ShareSimProcess sim;
    StartShareSim(sim);

    const Finished run = Run(Args(sim, {"-n", "1,3-5,3", "-q", kShareText}));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "1\t已完成\t1.bin\n3\t已完成\t3.bin\n4\t已存在\t4.bin\n5\t已跳过\t5.bin\n");
    EXPECT_NE(run.err.find("下载目录中已有同名的非普通文件，已跳过：5 5.bin"), std::string::npos)
        << run.err;
    EXPECT_TRUE(Saved("1.bin") == bytes[0]);
    EXPECT_TRUE(Saved("3.bin") == bytes[2]);
    EXPECT_EQ(Saved("4.bin"), "mine") << "a file already there was overwritten";
    EXPECT_FALSE(fs::exists(Downloads() + "/2.bin"));
    EXPECT_TRUE(fs::is_directory(Downloads() + "/5.bin"));
}

TEST_F(PandrelGetTest, UnsafeNamesAreSkippedAndTheSafeFilesArriveWhole) {
    const std::string good = AddShareFile("good.bin", 300 * 1024);
    AddShareFile("escape.bin", 1000);
    ShareSimProcess sim;
    // Every share query gets this page; it is written once the port is known.
    const std::string page = PathOf("page.html");
    std::ofstream(page) << "";
    StartShareSim(sim, {"--page", page});
    const std::string links = sim.BaseUrl() + "/d/" + kShareId + "/";
    std::string rows;
    for (const auto& [name, file] :
         std::vector<std::pair<std::string, std::string>>{{"../escape.bin", "escape.bin"},
                                                          {"good.bin", "good.bin"},
                                                          {"sub/escape.bin", "escape.bin"},
                                                          {"..", "escape.bin"},
                                                          {"tab\there.bin", "escape.bin"},
                                                          {"good.bin", "escape.bin"}}) {
        rows += "<tr><td>" + name + "</td><td>1 KB</td><td><a target=\"_blank\" href=\"" + links +
                file + "\">点我下载</a></td></tr>\n";
    }
    std::ofstream(page) << "<html><table><tbody>\n" << rows << "</tbody></table></html>";

    const Finished run = Run(Args(sim, {"-q", kShareText}));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "1\t已跳过\t../escape.bin\n2\t已完成\tgood.bin\n3\t已跳过\tsub/escape.bin\n"
                       "4\t已跳过\t..\n5\t已跳过\ttab\\x09here.bin\n6\t已跳过\tgood.bin\n");
    EXPECT_NE(run.err.find("文件名不安全，已跳过：1 ../escape.bin"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("与前面的文件同名，已跳过：6 good.bin"), std::string::npos) << run.err;
    EXPECT_TRUE(Saved("good.bin") == good);
    std::vector<std::string> written;
    for (const auto& entry : fs::recursive_directory_iterator(Dir())) {
        if (entry.path().filename() == "escape.bin" &&
            entry.path().string() != ShareDir() + "/escape.bin") {
            written.push_back(entry.path().string());
        }
    }
    EXPECT_EQ(written, std::vector<std::string>{}) << "a file was written outside the folder";
    std::vector<std::string> downloaded;
    for (const auto& entry : fs::directory_iterator(Downloads())) {
        downloaded.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(downloaded, std::vector<std::string>{"good.bin"});
}

// A byte range [first, end) of a file as share-sim's log shows it served.
struct Served {
    std::int64_t first = 0;
    std::int64_t end = 0;
};

std::vector<Served> ServedRanges(const std::string& log, const std::string& fileName) {
    std::vector<Served> ranges;
    for (const std::string& line : Lines(ReadWhole(log))) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) {
            fields.push_back(field);
        }
        if (fields.size() < 5 || fields[1].find(fileName) == std::string::npos) {
            continue;
        }
        const std::int64_t first = fields[2] == "-" ? 0 : std::stoll(fields[2].substr(6));
        ranges.push_back({first, first + std::stoll(fields[3])});
    }
    return ranges;
}

TEST_F(PandrelGetTest, SigintStopsCleanlyAndTheSameCommandResumesWithoutFetchingSavedBytes) {
    constexpr std::size_t kSize = 4 * 1024 * 1024;
    const std::string bytes = AddShareFile("big.bin", kSize);
    AddShareFile("small.txt", 100);
    // Slow enough that the run is still going after the first plain progress line (10 s).
    ShareSimProcess slow;
    StartShareSim(slow, {"--rate", "48K", "--log", PathOf("slow.log")});
    GetProcess first(PANDREL_GET_PATH, Args(slow, {"-c", "4", kShareText}), Dir());
    ASSERT_TRUE(WaitFor([&] { return first.OutSoFar().find("合计：") != std::string::npos; },
                        std::chrono::seconds(60)))
        << first.OutSoFar();
    first.Signal(SIGINT);
    const Finished stopped = first.Wait();
    EXPECT_EQ(stopped.status, 130) << stopped.err;
    EXPECT_NE(stopped.err.find("已中断"), std::string::npos) << stopped.err;
    // Standard output is a file: plain lines, nothing drawn over.
    EXPECT_EQ(stopped.out.find('\x1b'), std::string::npos);
    const std::vector<std::string> lines = Lines(stopped.out);
    ASSERT_GE(lines.size(), 5u) << stopped.out;
    EXPECT_EQ(lines[0], "开始下载：1 big.bin");
    EXPECT_EQ(lines[1], "开始下载：2 small.txt");
    EXPECT_EQ(lines[2], "下载完成：2 small.txt");
    EXPECT_EQ(lines[3].rfind("合计：已结束 1/2 个文件  进行中 ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[lines.size() - 2], "1\t未完成\tbig.bin");
    EXPECT_EQ(lines.back(), "2\t已完成\tsmall.txt");

    // What the engine saved when it stopped: every byte outside `missing` is on disk.
    dlengine::Progress saved;
    ASSERT_TRUE(dlengine::DecodeProgress(ReadWhole(Downloads() + "/big.bin.td.cfg"), &saved));
    ASSERT_GT(saved.MissingBytes(), 0);
    ASSERT_LT(saved.MissingBytes(), static_cast<std::int64_t>(kSize)) << "nothing was saved";

    // The same command again, now at full speed from a second service over the same shares.
    ShareSimProcess fast;
    StartShareSim(fast, {"--log", PathOf("fast.log")});
    const Finished resumed = Run(Args(fast, {"-c", "4", kShareText}));
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(Lines(resumed.out).back(), "2\t已存在\tsmall.txt");
    EXPECT_TRUE(Saved("big.bin") == bytes) << "the resumed file differs from the share's";
    EXPECT_FALSE(fs::exists(Downloads() + "/big.bin.td.cfg"));
    const auto isMissing = [&](const Served& range) {
        for (const dlengine::ByteRange& gap : saved.missing) {
            if (range.first >= gap.begin && range.end <= gap.end) {
                return true;
            }
        }
        return false;
    };
    const std::vector<Served> again = ServedRanges(PathOf("fast.log"), "big.bin");
    EXPECT_FALSE(again.empty());
    for (const Served& range : again) {
        EXPECT_TRUE(isMissing(range)) << "bytes " << range.first << "-" << range.end
                                      << " were saved before the stop and fetched again";
    }
}

TEST_F(PandrelGetTest, OnATerminalTheLinesAreRedrawnInPlaceWithinItsWidth) {
    const std::string name = "一个名字很长很长的文件，长过终端的一行.bin";
    AddShareFile(name, 1024 * 1024);
    ShareSimProcess sim;
    StartShareSim(sim, {"--rate", "64K"});
    std::vector<std::string> args = Args(sim, {"-c", "2", kShareText});
    args.insert(args.begin(), PANDREL_GET_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 24;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string shown;
    const auto readSome = [&] {
        char chunk[4096];
        const ssize_t got = read(terminal, chunk, sizeof chunk); // EIO once the program is gone
        shown.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
        return got > 0;
    };
    const auto redraws = [&] {
        std::size_t count = 0;
        for (std::size_t at = shown.find("\x1b[2A"); at != std::string::npos;
             at = shown.find("\x1b[2A", at + 1)) {
            ++count;
        }
        return count;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (redraws() < 3 && std::chrono::steady_clock::now() < deadline && readSome()) {
    }
    kill(pid, SIGINT);
    while (readSome()) {
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130) << shown;
    ASSERT_GE(redraws(), 3u) << shown;

    // Each redrawn line (the file's, the total) keeps within 79 columns: a line that wrapped
    // would leave the redraw one line short. Lines that stay (notes, the summary) are whole.
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    std::string piece;
    std::size_t redrawnLines = 0;
    const auto check = [&] {
        if (piece.rfind("1 一个", 0) == 0 || piece.rfind("合计：", 0) == 0) {
            EXPECT_LE(pandrel::get::DisplayWidth(piece), 79) << piece;
            ++redrawnLines;
        }
        piece.clear();
    };
    for (std::size_t at = 0; at < shown.size(); ++at) {
        if (shown[at] == '\x1b') {
            check();
            at = shown.find_first_of("ABCDHJKm", at); // the end of the control sequence
        } else if (shown[at] == '\r' || shown[at] == '\n') {
            check();
        } else {
            piece += shown[at];
        }
    }
    check();
    EXPECT_GE(redrawnLines, 6u);
    EXPECT_NE(shown.find("1\t未完成\t" + name), std::string::npos) << shown;
    EXPECT_TRUE(shown.find("-]") != std::string::npos || shown.find("#]") != std::string::npos)
        << "no bar in the file line";
}

TEST(PandrelGetParts, NumberListsAndChoices) {
    using Spans = std::vector<NumberSpan>;
    const auto spans = [](const std::string& list) {
        const auto parsed = pandrel::get::ParseNumberList(list);
        std::string shown = parsed ? "" : "none";
        for (const NumberSpan& span : parsed.value_or(Spans{})) {
            shown += std::to_string(span.first) + "-" + std::to_string(span.last) + ";";
        }
        return shown;
    };
    EXPECT_EQ(spans("1,3-5"), "1-1;3-5;");
    EXPECT_EQ(spans("7"), "7-7;");
    for (const char* bad : {"", "0", "1,", ",1", "5-3", "1-", "-2", "a", "1 ,2", "99999999999"}) {
        EXPECT_EQ(spans(bad), "none") << "'" << bad << "'";
    }
    const std::vector<pandrel::FileEntry> rows(3);
    std::string error;
    const auto chosen = pandrel::get::ChooseFiles(rows, Spans{{3, 3}, {1, 1}, {3, 3}}, error);
    ASSERT_TRUE(chosen);
    ASSERT_EQ(chosen->size(), 2u) << "in listing order, each once";
    EXPECT_EQ((*chosen)[0].number, 1);
    EXPECT_EQ((*chosen)[1].number, 3);
    EXPECT_FALSE(pandrel::get::ChooseFiles(rows, Spans{{2, 4}}, error));
    EXPECT_EQ(error, "分享中只有 3 个文件，没有第 4 个");
}

TEST(PandrelGetParts, TerminalLinesKeepToTheirColumns) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    struct Case {
        std::string text;
        int columns;
        std::string fitted;
    } cases[] = {
        {"abc", 2, "ab"},   {"数据a", 4, "数据"},
        {"数据a", 3, "数"}, // a wide character never goes half onto the line
        {"🎵x", 2, "🎵"},     {"abc", 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pandrel::get::FitToWidth(c.text, c.columns), c.fitted) << c.text << c.columns;
        EXPECT_LE(pandrel::get::DisplayWidth(pandrel::get::FitToWidth(c.text, c.columns)),
                  c.columns);
    }
    EXPECT_EQ(pandrel::get::DisplayWidth("数据-🎵.bin"), 11);
    EXPECT_EQ(pandrel::get::DurationText(3725.2), "1:02:06");
    EXPECT_EQ(pandrel::get::DurationText(std::nullopt), "--:--");
    EXPECT_EQ(pandrel::get::ByteText(1536), "1.50 KB");
    EXPECT_EQ(pandrel::get::ShownName("a\nb\x7f"), "a\\x0Ab\\x7F");
}

} // namespace
