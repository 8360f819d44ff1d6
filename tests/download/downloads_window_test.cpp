// The whole download job on the offscreen window: start-up with the real engine, a share
// parsed from a real share-sim, downloads through the window's own handlers, and the task
// commands on running tasks.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QLabel>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "download/task_commands.h"
#include "download/task_list.h"
#include "download/task_records.h"
#include "runtime/text.h"
#include "runtime/ui/qt_text.h"
#include "share/file_list.h"
#include "support/wait_for.h"
#include "task_window_fixture.h"

namespace {

namespace fs = std::filesystem;
using pandrel::kAmountColumn;
using pandrel::kHandleColumn;
using pandrel::kNameColumn;
using pandrel::kProgressColumn;
using pandrel::kSizeColumn;
using pandrel::kSpeedColumn;
using pandrel::kStateColumn;
using States = std::vector<std::string>;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A desktop notification service of the test's own, on the private session bus the suite runs
// in: it keeps the summary and body of every notification and answers each with an id.
class NoticeCatcher : public QDBusVirtualObject {
public:
    NoticeCatcher()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                              QStringLiteral("notice-catcher"))) {
        m_registered =
            m_bus.isConnected() &&
            m_bus.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
            m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this);
    }
    ~NoticeCatcher() override {
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notice-catcher"));
    }
    bool Registered() const { return m_registered; }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QList<QVariant> arguments = message.arguments();
        if (message.member() != QStringLiteral("Notify") || arguments.size() != 8) {
            return false;
        }
        notices.push_back(pandrel::FromQString(arguments[3].toString()) + " / " +
                          pandrel::FromQString(arguments[4].toString()));
        connection.send(
            message.createReply(QVariant::fromValue(static_cast<uint>(notices.size()))));
        return true;
    }

    std::vector<std::string> notices;

private:
    QDBusConnection m_bus;
    bool m_registered = false;
};

class DownloadsTest : public ShareTest {
protected:
    int FileRowOf(const std::string& name) {
        for (int row = 0; row < FileList()->topLevelItemCount(); ++row) {
            if (Cell(FileList(), row, 1) == name) {
                return row;
            }
        }
        ADD_FAILURE() << name << " is not in the file list";
        return -1;
    }
    std::uintmax_t SizeOf(const std::string& path) {
        std::error_code error;
        const auto size = fs::file_size(path, error);
        return error ? 0 : size;
    }
    // The tooltip of a row's "状态" cell.
    std::string TipOf(int row) {
        return pandrel::FromQString(TaskList()->topLevelItem(row)->toolTip(kStateColumn));
    }
    std::string Status() {
        auto* status = m_window->findChild<QLabel*>(QStringLiteral("状态"));
        return status != nullptr ? pandrel::FromQString(status->text()) : std::string();
    }
    bool LogHasLine(const std::string& ending) {
        QTreeWidget* log = List("列表框_工作日志");
        for (int row = 0; row < log->topLevelItemCount(); ++row) {
            if (Cell(log, row, 0).ends_with(" } " + ending)) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(DownloadsTest, DownloadsTwoFilesFromTheFileList) {
    const std::string first = AddShareFile("alpha.bin", 300 * 1024);
    const std::string second = AddShareFile("文件 二.dat", 200 * 1024 + 17);
    StartShareSim();
    OpenAndParse();
    // Start-up released the engine beside the run folder and put the gzip library there.
    EXPECT_TRUE(fs::exists(Dir() + "/DownLoad/dlhost"));
    EXPECT_TRUE(fs::exists(Dir() + "/libgzip.so"));

    const int firstRow = FileRowOf("alpha.bin");
    DownloadFileRow(firstRow);
    // The row as the command leaves it: its worker has not come to it yet.
    ASSERT_EQ(TaskList()->topLevelItemCount(), 1);
    const std::vector<std::string> initial = {
        "alpha.bin", Cell(FileList(), firstRow, 2), "0.00 %", "0 KB/S", "0.00/0.00 MB", "", ""};
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(Cell(TaskList(), 0, column), initial[column]) << column;
    }
    DownloadFileRow(FileRowOf("文件 二.dat"));
    ASSERT_EQ(TaskList()->topLevelItemCount(), 2);

    ASSERT_TRUE(WaitForState(0, "已完成"));
    ASSERT_TRUE(WaitForState(1, "已完成"));
    const struct {
        int row;
        std::string name, bytes, sizeText;
    } rows[] = {{0, "alpha.bin", first, "0.29/0.29 MB"},
                {1, "文件 二.dat", second, "0.20/0.20 MB"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(StatesOf(r.row), (States{"正在下载", "已完成"}));
        EXPECT_EQ(Cell(TaskList(), r.row, kProgressColumn), "100.00 %");
        EXPECT_EQ(Cell(TaskList(), r.row, kAmountColumn), r.sizeText);
        EXPECT_TRUE(Cell(TaskList(), r.row, kSpeedColumn).ends_with(" KB/S"));
        EXPECT_GT(std::atoi(Cell(TaskList(), r.row, kHandleColumn).c_str()), 0);
        EXPECT_TRUE(SavedFile(r.name) == r.bytes) << "the saved file differs from the share's";
        EXPECT_FALSE(fs::exists(m_state.WorkDir + r.name + ".td"));
    }
    EXPECT_NE(Cell(TaskList(), 0, kHandleColumn), Cell(TaskList(), 1, kHandleColumn));
    // Each worker logs the end of its scan a second after its last row.
    EXPECT_TRUE(WaitFor([&] { return m_downloads->RunningWorkers() == 0; }));
    EXPECT_TRUE(LogHasLine("任务：alpha.bin已下载完成"));
    EXPECT_TRUE(LogHasLine("任务：文件 二.dat已下载完成"));
}

TEST_F(DownloadsTest, PausedTaskFetchesNothingUntilStartedAgain) {
    const std::string bytes = AddShareFile("slow.bin", 3 * 1024 * 1024);
    StartShareSim({"--rate", "96K"});
    OpenAndParse();
    DownloadFileRow(0);
    const std::string temporary = m_state.WorkDir + "slow.bin.td";
    ASSERT_TRUE(WaitFor([&] {
        return SizeOf(temporary) > 0 && Cell(TaskList(), 0, kProgressColumn) != "0.00 %" &&
               !Cell(TaskList(), 0, kHandleColumn).empty();
    }));
    // The engine holds its temporary file while it writes it.
    EXPECT_TRUE(pandrel::IsFileLocked(temporary));

    Select(TaskList(), 0);
    Trigger("菜单2", "暂停此任务");
    ASSERT_TRUE(WaitForState(0, "已暂停", std::chrono::seconds(5)));
    // Connections the pause cut end their log lines, and the worker's next poll shows the
    // stopped task's progress; after that the server sees nothing and the row stays.
    const int handle = std::stoi(Cell(TaskList(), 0, kHandleColumn));
    const auto stoppedProgress = [&] {
        pandrel::TaskStatusInfo stopped;
        stopped.Init();
        m_downloads->Engine().QueryTaskInfoEx(handle, stopped.BlockAddress());
        return stopped.PercentText();
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            return m_shareSim.EndedConnectionsHeld() == 0 &&
                   Cell(TaskList(), 0, kProgressColumn) == stoppedProgress();
        },
        std::chrono::seconds(10)))
        << m_shareSim.EndedConnectionsHeld() << " ended connections held; the row shows "
        << Cell(TaskList(), 0, kProgressColumn) << ", the engine " << stoppedProgress();
    const std::string progressAfterPause = Cell(TaskList(), 0, kProgressColumn);
    const std::string logAfterPause = ReadWhole(LogPath());
    // Nothing marks the moment a paused task would fetch again: two quiet seconds are the
    // proof that it does not.
    LetTimePass(std::chrono::milliseconds(2000), [] { PumpEvents(); });
    EXPECT_EQ(ReadWhole(LogPath()), logAfterPause);
    EXPECT_EQ(Cell(TaskList(), 0, kProgressColumn), progressAfterPause);
    EXPECT_EQ(Cell(TaskList(), 0, kStateColumn), "已暂停") << "the worker overwrote the pause";
    EXPECT_NE(progressAfterPause, "100.00 %") << "the download was too fast to pause";

    Trigger("菜单2", "开始此任务");
    EXPECT_EQ(Cell(TaskList(), 0, kStateColumn), "正在下载");
    ASSERT_TRUE(WaitForState(0, "已完成", std::chrono::seconds(90)));
    EXPECT_EQ(StatesOf(0), (States{"正在下载", "已暂停", "正在下载", "已完成"}));
    EXPECT_TRUE(SavedFile("slow.bin") == bytes) << "the saved file differs from the share's";
    EXPECT_NE(ReadWhole(LogPath()), logAfterPause);
}

TEST_F(DownloadsTest, DeleteEndsTheTaskAndKeepsFinishedFiles) {
    const std::string done = AddShareFile("done.bin", 64 * 1024);
    AddShareFile("slow.bin", 3 * 1024 * 1024);
    StartShareSim({"--rate", "96K"});
    OpenAndParse();
    DownloadFileRow(FileRowOf("done.bin"));
    ASSERT_TRUE(WaitForState(0, "已完成"));
    DownloadFileRow(FileRowOf("slow.bin"));
    const std::string temporary = m_state.WorkDir + "slow.bin.td";
    // The row has its handle once the worker has polled the task.
    ASSERT_TRUE(WaitFor(
        [&] { return SizeOf(temporary) > 0 && !Cell(TaskList(), 1, kHandleColumn).empty(); }));

    Select(TaskList(), 1);
    Trigger("菜单2", "删除此任务");
    EXPECT_EQ(Cell(TaskList(), 1, kStateColumn), "已删除");
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_FALSE(fs::exists(temporary + ".cfg"));
    EXPECT_FALSE(fs::exists(m_state.WorkDir + "slow.bin"));
    // The worker of a deleted task stops polling it and ends its scan; the row keeps its
    // state.
    ASSERT_TRUE(
        WaitFor([&] { return m_downloads->RunningWorkers() == 0; }, std::chrono::seconds(20)));
    EXPECT_EQ(StatesOf(1), (States{"正在下载", "已删除"}));
    // Its worker says so, and claims no completion.
    EXPECT_TRUE(LogHasLine("任务：slow.bin已删除"));
    EXPECT_FALSE(LogHasLine("任务：slow.bin已下载完成"));
    EXPECT_EQ(Status(), "任务：slow.bin 已删除");

    Select(TaskList(), 0);
    Trigger("菜单2", "删除此任务");
    EXPECT_EQ(Cell(TaskList(), 0, kStateColumn), "已删除");
    EXPECT_TRUE(SavedFile("done.bin") == done) << "deleting a finished task lost its file";
    EXPECT_EQ(TaskList()->topLevelItemCount(), 2);
}

TEST_F(DownloadsTest, SameFileTwiceRunsATaskForEachRowOfIt) {
    const std::string bytes = AddShareFile("same.bin", 256 * 1024);
    StartShareSim();
    OpenAndParse();
    DownloadFileRow(0);
    ASSERT_TRUE(WaitForState(0, "已完成"));
    const std::string firstHandle = Cell(TaskList(), 0, kHandleColumn);

    DownloadFileRow(0);
    ASSERT_EQ(TaskList()->topLevelItemCount(), 2);
    ASSERT_TRUE(WaitForState(1, "已完成"));
    // The new worker served the older row again first, with a task of its own.
    EXPECT_EQ(StatesOf(0), (States{"正在下载", "已完成", "正在下载", "已完成"}));
    EXPECT_EQ(StatesOf(1), (States{"正在下载", "已完成"}));
    const std::string handles[] = {firstHandle, Cell(TaskList(), 0, kHandleColumn),
                                   Cell(TaskList(), 1, kHandleColumn)};
    EXPECT_NE(handles[0], handles[1]);
    EXPECT_NE(handles[1], handles[2]);
    EXPECT_NE(handles[0], handles[2]);
    std::vector<std::string> saved;
    for (const auto& entry : fs::directory_iterator(m_state.WorkDir)) {
        saved.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(saved, std::vector<std::string>{"same.bin"});
    EXPECT_TRUE(SavedFile("same.bin") == bytes) << "the saved file differs from the share's";
}

// "下载该文件" again while the file downloads: the new worker leaves the first row to its own
// download, the new row's task is refused (another task writes the file) and shows so, and
// deleting that row keeps every byte of the running download.
TEST_F(DownloadsTest, SameFileAgainWhileItRunsKeepsTheFirstDownload) {
    const std::string bytes = AddShareFile("busy.bin", 6 * 1024 * 1024);
    StartShareSim({"--rate", "32K"});
    OpenAndParse();
    DownloadFileRow(0);
    ASSERT_TRUE(WaitFor([&] { return !Cell(TaskList(), 0, kHandleColumn).empty(); }));
    const std::string firstHandle = Cell(TaskList(), 0, kHandleColumn);
    DownloadFileRow(0);
    ASSERT_TRUE(WaitForState(1, "下载失败", std::chrono::seconds(20)));
    EXPECT_EQ(TipOf(1), "下载失败：文件正被另一个下载任务写入");
    EXPECT_TRUE(WaitFor([&] {
        return Status() == "任务：busy.bin 下载失败：文件正被另一个下载任务写入";
    })) << Status();
    EXPECT_EQ(Cell(TaskList(), 0, kStateColumn), "正在下载");
    EXPECT_EQ(Cell(TaskList(), 0, kHandleColumn), firstHandle);

    Select(TaskList(), 1);
    Trigger("菜单2", "删除此任务");
    EXPECT_EQ(Cell(TaskList(), 1, kStateColumn), "已删除");
    EXPECT_TRUE(fs::exists(m_state.WorkDir + "busy.bin.td")) << "the live download lost its file";
    EXPECT_TRUE(fs::exists(m_state.WorkDir + "busy.bin.td.cfg"));

    ASSERT_TRUE(WaitForState(0, "已完成", std::chrono::seconds(90)));
    EXPECT_EQ(StatesOf(0), (States{"正在下载", "已完成"}));
    EXPECT_EQ(StatesOf(1), (States{"正在下载", "下载失败", "已删除"}));
    EXPECT_EQ(Cell(TaskList(), 0, kHandleColumn), firstHandle);
    EXPECT_TRUE(SavedFile("busy.bin") == bytes) << "the saved file differs from the share's";
    EXPECT_TRUE(WaitFor([&] { return m_downloads->RunningWorkers() == 0; }));
    EXPECT_TRUE(LogHasLine("任务：busy.bin已下载完成"));
    EXPECT_TRUE(LogHasLine("任务：busy.bin已删除"));
}

TEST_F(DownloadsTest, RefusedAndUnsafeFilesShowFailureAndARetryRecovers) {
    const std::string bytes = AddShareFile("gone.bin", 128 * 1024);
    AddShareFile("escape.bin", 4 * 1024);
    StartShareSim();
    OpenAndParse();
    // Rows the listing might hold: names that are paths, pointing at a file that exists.
    const std::string link = m_shareSim.BaseUrl() + "/d/" + kShareId + "/escape.bin";
    for (const char* name : {"..", "../escape.bin", "sub/escape.bin"}) {
        m_state.RecordText += "<tr><td>" + std::string(name) +
                              "</td><td>4 KB</td><td><a target=\"_blank\" href=\"" + link +
                              "\">点我下载</a></td></tr>\n";
    }
    FileList()->clear();
    m_state.RecordRowCount = pandrel::CountOccurrences(m_state.RecordText, "<tr>");
    pandrel::FillFileList(m_state);
    ASSERT_EQ(FileList()->topLevelItemCount(), 5);
    // The file went away after the listing was made: the server answers 404.
    const std::string shared = ShareFilePath("gone.bin");
    fs::rename(shared, PathOf("gone.bin.away"));

    const std::string unsafe = "下载失败：文件名不安全或过长";
    const struct {
        std::string name;
        std::string why; // the "下载失败" cell's tooltip
    } rows[] = {{"gone.bin", "下载失败：服务器拒绝下载（HTTP 错误），或文件在下载期间一再变动"},
                {"..", unsafe},
                {"../escape.bin", unsafe},
                {"sub/escape.bin", unsafe}};
    for (const auto& r : rows) {
        DownloadFileRow(FileRowOf(r.name));
    }
    for (int row = 0; row < static_cast<int>(std::size(rows)); ++row) {
        EXPECT_TRUE(WaitForState(row, "下载失败"))
            << rows[row].name << " shows " << Cell(TaskList(), row, kStateColumn);
        EXPECT_EQ(TipOf(row), rows[row].why);
    }
    // Each failure was written to the status line too, as it was seen.
    EXPECT_TRUE(std::any_of(std::begin(rows), std::end(rows), [&](const auto& r) {
        return Status() == "任务：" + r.name + " " + r.why;
    })) << Status();
    for (const auto& entry : fs::recursive_directory_iterator(Dir())) {
        if (entry.path().filename() == "escape.bin") {
            EXPECT_EQ(entry.path().string(), ShareFilePath("escape.bin"))
                << "a file was written outside the download folder";
        }
    }

    // The file is back: starting the failed task fetches it after all.
    fs::rename(PathOf("gone.bin.away"), shared);
    Select(TaskList(), 0);
    Trigger("菜单2", "开始此任务");
    EXPECT_EQ(TipOf(0), "正在下载") << "the reason outlived the failure";
    ASSERT_TRUE(WaitForState(0, "已完成"));
    EXPECT_EQ(StatesOf(0), (States{"正在下载", "下载失败", "正在下载", "已完成"}));
    EXPECT_TRUE(SavedFile("gone.bin") == bytes) << "the saved file differs from the share's";
}

TEST_F(DownloadsTest, CheckedFilesDownloadTogetherAndTheirEndsAreAnnouncedWhenAway) {
    NoticeCatcher catcher;
    ASSERT_TRUE(catcher.Registered())
        << "no private session bus: the suite runs in dbus-run-session";
    const std::vector<std::string> names = {"a.bin", "b 二.bin", "c.bin",
                                            "d.bin", "e.bin",    "f.bin"};
    std::map<std::string, std::string> bytes;
    for (std::size_t i = 0; i < names.size(); ++i) {
        bytes[names[i]] = AddShareFile(names[i], 100 * 1024 + i);
    }
    StartShareSim();
    OpenAndParse();
    auto checked = [&] {
        std::vector<std::string> rows;
        for (int row = 0; row < FileList()->topLevelItemCount(); ++row) {
            if (FileList()->topLevelItem(row)->checkState(0) == Qt::Checked) {
                rows.push_back(Cell(FileList(), row, 1));
            }
        }
        return rows;
    };
    // Nothing checked, nothing queued; "全部勾选" ticks all, and again clears all.
    Trigger("菜单", "下载勾选的文件");
    EXPECT_EQ(TaskList()->topLevelItemCount(), 0);
    Trigger("菜单", "全部勾选");
    EXPECT_EQ(checked().size(), names.size());
    FileList()->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
    Trigger("菜单", "全部勾选");
    EXPECT_EQ(checked().size(), names.size()) << "not all were ticked: all get ticked";
    Trigger("菜单", "全部勾选");
    EXPECT_TRUE(checked().empty());

    // Five rows checked while the user is in another window; the fourth's file has left the
    // server since the listing was made, and its failure is announced with the reason.
    const std::string gone = Cell(FileList(), 3, 1);
    fs::rename(ShareFilePath(gone), PathOf("gone.away"));
    for (int row = 0; row < 5; ++row) {
        FileList()->topLevelItem(row)->setCheckState(0, Qt::Checked);
    }
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == &elsewhere; }));
    Trigger("菜单", "下载勾选的文件");
    ASSERT_EQ(TaskList()->topLevelItemCount(), 5);
    std::vector<std::string> expectedNotices;
    for (int row = 0; row < 5; ++row) {
        const std::string name = Cell(FileList(), row, 1);
        EXPECT_EQ(Cell(TaskList(), row, kNameColumn), name) << "rows are queued in list order";
        if (name == gone) {
            ASSERT_TRUE(WaitForState(row, "下载失败")) << name;
            const std::string why =
                "下载失败：服务器拒绝下载（HTTP 错误），或文件在下载期间一再变动";
            EXPECT_EQ(TipOf(row), why);
            expectedNotices.push_back(name + " / " + why);
            continue;
        }
        ASSERT_TRUE(WaitForState(row, "已完成")) << name;
        EXPECT_EQ(StatesOf(row), (States{"正在下载", "已完成"})) << name;
        EXPECT_TRUE(SavedFile(name) == bytes[name]) << name;
        expectedNotices.push_back(name + " / 已完成");
    }
    ASSERT_TRUE(WaitFor([&] { return catcher.notices.size() >= 5; }));
    std::sort(catcher.notices.begin(), catcher.notices.end());
    std::sort(expectedNotices.begin(), expectedNotices.end());
    EXPECT_EQ(catcher.notices, expectedNotices);
    fs::rename(PathOf("gone.away"), ShareFilePath(gone));

    // With the window active nothing is announced; a new listing clears the checks.
    m_window->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == m_window.get(); }));
    DownloadFileRow(5);
    ASSERT_TRUE(WaitForState(5, "已完成"));
    PumpEvents();
    EXPECT_EQ(catcher.notices.size(), 5u);
    RunHandler("解析");
    ASSERT_TRUE(WaitFor([&] { return FileList()->topLevelItemCount() == 6; }));
    EXPECT_TRUE(checked().empty());
}

TEST_F(DownloadsTest, UnfinishedDownloadsComeBackPausedAfterARestartAndGoOn) {
    const std::string first = AddShareFile("一.bin", 3 * 1024 * 1024);
    AddShareFile("two.bin", 3 * 1024 * 1024);
    StartShareSim({"--rate", "128K"});
    OpenAndParse();
    DownloadFileRow(FileRowOf("一.bin"));
    DownloadFileRow(FileRowOf("two.bin"));
    ASSERT_TRUE(WaitFor([&] {
        return fs::exists(m_state.WorkDir + "一.bin.td.cfg") &&
               fs::exists(m_state.WorkDir + "two.bin.td.cfg");
    }));
    RestartWindow();

    // Both come back in name order, paused, with an engine task each and their progress.
    ASSERT_EQ(TaskList()->topLevelItemCount(), 2);
    const std::string names[] = {"two.bin", "一.bin"};
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(names[row]);
        EXPECT_EQ(Cell(TaskList(), row, kNameColumn), names[row]);
        EXPECT_EQ(Cell(TaskList(), row, kSizeColumn), "3.00 MB");
        EXPECT_EQ(Cell(TaskList(), row, kStateColumn), "已暂停");
        EXPECT_GT(std::atoi(Cell(TaskList(), row, kHandleColumn).c_str()), 0);
        EXPECT_NE(Cell(TaskList(), row, kProgressColumn), "0.00 %");
        EXPECT_TRUE(Cell(TaskList(), row, kAmountColumn).ends_with("/3.00 MB"));
    }
    const std::string logAtRestart = ReadWhole(LogPath());
    Select(TaskList(), 1);
    RunHandler("菜单2", "开始此任务");
    ASSERT_TRUE(WaitForState(1, "已完成", std::chrono::seconds(90)));
    EXPECT_TRUE(SavedFile("一.bin") == first);
    // The other stays as it was: its task never started.
    EXPECT_EQ(Cell(TaskList(), 0, kStateColumn), "已暂停");
    const std::string afterRestart = ReadWhole(LogPath()).substr(logAtRestart.size());
    EXPECT_EQ(afterRestart.find("two.bin"), std::string::npos);
    // The restored task went on from its record: nothing asked for the file from its start.
    EXPECT_EQ(afterRestart.find("\tbytes=0-"), std::string::npos) << afterRestart;
    EXPECT_EQ(afterRestart.find("\t-\t"), std::string::npos) << afterRestart;
}

} // namespace
