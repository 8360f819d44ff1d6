// The task list, the task commands and the progress drawing on the real window, without
// downloads: what the commands refuse, which files the delete command may touch, the lock
// probe, and the worker's scan over rows of other files.
#include <QImage>
#include <QPlainTextEdit>
#include <QTabWidget>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "download/task_commands.h"
#include "download/task_list.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/progress_delegate.h"
#include "runtime/ui/qt_text.h"
#include "share/file_list.h"
#include "task_window_fixture.h"

namespace {

namespace fs = std::filesystem;
using pandrel::CurrentFile;

// A child process holding a write lock on the whole file until it is ended.
class LockHolder {
public:
    explicit LockHolder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            const int fd = open(path.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char answer = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &answer, 1);
            for (;;) {
                pause();
            }
        }
        close(ready[1]);
        char answer = 'n';
        m_locked = read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~LockHolder() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Locked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    bool m_locked = false;
};

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

TEST(IsFileLockedTest, TellsFreeFilesFromFilesAnotherProcessHolds) {
    ScopedTempDir dir;
    const std::string plain = dir.Path() + "/plain.td";
    const std::string held = dir.Path() + "/held.td";
    const std::string wildcard = dir.Path() + "/h*.td";
    Touch(plain);
    Touch(held);
    LockHolder holder(held);
    ASSERT_TRUE(holder.Locked());
    const std::string link = dir.Path() + "/link.td";
    const std::string fifo = dir.Path() + "/fifo.td";
    ASSERT_EQ(::symlink(held.c_str(), link.c_str()), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

    const struct {
        std::string path;
        bool locked;
    } cases[] = {
        {dir.Path() + "/missing.td", false},
        {plain, false},
        {held, true},
        // A name is a name: "*" does not reach the held file.
        {wildcard, false},
        {"", false},
        // Whatever else lies under a working name is not probed: a link is not followed, a
        // FIFO not opened.
        {link, false},
        {fifo, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pandrel::IsFileLocked(c.path), c.locked) << c.path;
    }
    // The probe itself leaves no lock behind.
    EXPECT_FALSE(pandrel::IsFileLocked(plain));
}

TEST(ProgressBarDelegateTest, ReadsThePercentOfProgressTextsOnly) {
    const struct {
        const char* text;
        std::optional<double> percent;
    } cases[] = {
        {"45.67 %", 45.67},         {"0.00 %", 0.0},           {"100.00 %", 100.0},
        {"", std::nullopt},         {"45.67", std::nullopt},   {"abc %", std::nullopt},
        {"100.01 %", std::nullopt}, {"-1.00 %", std::nullopt}, {"nan %", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pandrel::ProgressBarDelegate::PercentOf(QString::fromUtf8(c.text)), c.percent)
            << c.text;
    }
}

class TaskListTest : public TaskWindowTest {
protected:
    void SetUp() override {
        TaskWindowTest::SetUp();
        StartWindow(false);
    }
    int AddRow(const std::string& name) {
        CurrentFile file;
        file.CurrentFileName = name;
        file.CurrentFileSize = "1 KB";
        return pandrel::AddTaskRow(file);
    }
};

TEST_F(TaskListTest, ProgressCellIsDrawnAsABarAndKeepsItsText) {
    for (const char* percent : {"0.00 %", "100.00 %"}) {
        pandrel::SetCellText(pandrel::kTaskList, AddRow("f"), pandrel::kProgressColumn, percent);
    }
    EXPECT_EQ(pandrel::GetCellText(pandrel::kTaskList, 1, pandrel::kProgressColumn), "100.00 %");
    auto* tab = m_window->findChild<QTabWidget*>(QStringLiteral("文件夹"));
    ASSERT_NE(tab, nullptr);
    tab->setCurrentWidget(TaskList()->parentWidget());
    PumpEvents();
    const QImage image = TaskList()->viewport()->grab().toImage();
    // A point right of the text: empty bar in the first row, filled bar in the second; plain
    // text cells would show the same background in both.
    const QRect empty = TaskList()->visualItemRect(TaskList()->topLevelItem(0));
    const QRect full = TaskList()->visualItemRect(TaskList()->topLevelItem(1));
    const int x = TaskList()->columnViewportPosition(pandrel::kProgressColumn) +
                  TaskList()->columnWidth(pandrel::kProgressColumn) * 9 / 10;
    EXPECT_NE(image.pixel(x, empty.center().y()), image.pixel(x, full.center().y()));
}

TEST_F(TaskListTest, DownloadIsRefusedWithoutASelectionOrAListedRow) {
    m_state.RecordText = "\n<tr><td>a.bin</td><td>1 KB</td><td><a target=\"_blank\" "
                         "href=\"http://127.0.0.1:1/d/a.bin\">点我下载</a></td></tr>\n";
    m_state.RecordRowCount = 1;
    pandrel::FillFileList(m_state);
    ASSERT_EQ(FileList()->topLevelItemCount(), 1);

    // The number cell is what ties a file-list row to its piece of the listing; 2 is the
    // piece after the last "</tr>", which holds no row.
    const struct {
        int select;
        const char* number;
    } cases[] = {{-1, "1"}, {0, "0"}, {0, "3"}, {0, "-1"}, {0, "x"}};
    for (const auto& c : cases) {
        FileList()->topLevelItem(0)->setText(0, QString::fromUtf8(c.number));
        Select(FileList(), c.select);
        RunHandler("菜单", "下载该文件");
        EXPECT_EQ(TaskList()->topLevelItemCount(), 0) << c.select << " " << c.number;
        EXPECT_EQ(m_downloads->RunningWorkers(), 0);
        EXPECT_EQ(m_state.Snapshot().CurrentFileName, "");
    }
}

TEST_F(TaskListTest, DownloadWithoutADownloadFolderFailsAtOnce) {
    m_state.RecordText = "\n<tr><td>a.bin</td><td>1 KB</td><td><a target=\"_blank\" "
                         "href=\"http://127.0.0.1:1/d/a.bin\">点我下载</a></td></tr>\n";
    m_state.RecordRowCount = 1;
    pandrel::FillFileList(m_state);
    // What start-up leaves when it stopped before the download folder.
    m_state.WorkDir.clear();
    Select(FileList(), 0);
    RunHandler("菜单", "下载该文件");
    ASSERT_TRUE(WaitForState(0, "下载失败", std::chrono::seconds(10)));
    EXPECT_EQ(pandrel::GetCellToolTip("列表框_任务信息", 0, pandrel::kStateColumn),
              "下载失败：下载目录不可用");
    ASSERT_TRUE(
        WaitFor([&] { return m_downloads->RunningWorkers() == 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(pandrel::GetTextProperty("状态", pandrel::Property::Caption),
              "任务：a.bin 下载失败：下载目录不可用");
    EXPECT_EQ(Cell(TaskList(), 0, pandrel::kHandleColumn), "") << "a task was created";
}

TEST_F(TaskListTest, CommandsActOnTheSelectedRowOnly) {
    AddRow("a.bin");
    const struct {
        const char* item;
        const char* state;
    } cases[] = {{"暂停此任务", "已暂停"}, {"开始此任务", "正在下载"}, {"删除此任务", "已删除"}};
    for (const auto& c : cases) {
        TaskList()->topLevelItem(0)->setText(pandrel::kStateColumn, QString());
        Select(TaskList(), -1);
        RunHandler("菜单2", c.item);
        EXPECT_EQ(Cell(TaskList(), 0, pandrel::kStateColumn), "") << c.item;
        // A row no worker has come to has no handle; the state is written all the same.
        Select(TaskList(), 0);
        RunHandler("菜单2", c.item);
        EXPECT_EQ(Cell(TaskList(), 0, pandrel::kStateColumn), c.state) << c.item;
    }
}

TEST_F(TaskListTest, DeleteRemovesOnlyTheTemporaryFilesInTheDownloadFolder) {
    ASSERT_EQ(m_state.WorkDir, Dir() + "/下载目录/");
    const std::string work = m_state.WorkDir;
    Touch(work + "plain.bin");
    Touch(work + "plain.bin.td");
    Touch(work + "plain.bin.td.cfg");
    fs::create_directories(work + "sub");
    // What a name that is a path would reach from the download folder.
    for (const char* victim : {"victim.td", "victim.td.cfg"}) {
        Touch(Dir() + "/" + victim);
        Touch(work + "sub/" + victim);
    }

    const struct {
        std::string name;
        std::vector<std::string> gone, kept;
    } cases[] = {
        {"plain.bin", {work + "plain.bin.td", work + "plain.bin.td.cfg"}, {work + "plain.bin"}},
        {"../victim", {}, {Dir() + "/victim.td", Dir() + "/victim.td.cfg"}},
        {"sub/victim", {}, {work + "sub/victim.td", work + "sub/victim.td.cfg"}},
    };
    for (const auto& c : cases) {
        const int row = AddRow(c.name);
        Select(TaskList(), row);
        RunHandler("菜单2", "删除此任务");
        EXPECT_EQ(Cell(TaskList(), row, pandrel::kStateColumn), "已删除") << c.name;
        for (const std::string& path : c.gone) {
            EXPECT_FALSE(fs::exists(path)) << path;
        }
        for (const std::string& path : c.kept) {
            EXPECT_TRUE(fs::exists(path)) << path;
        }
    }
}

TEST_F(TaskListTest, WorkerOverAnEmptyListOrOtherFilesRunsNoTask) {
    auto* counter = m_window->findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"));
    auto* number = m_window->findChild<QPlainTextEdit*>(QStringLiteral("编辑框2"));
    ASSERT_NE(counter, nullptr);
    ASSERT_NE(number, nullptr);
    RunHandler("按钮_开始下载");
    EXPECT_EQ(number->toPlainText(), QStringLiteral("1"));
    ASSERT_TRUE(
        WaitFor([&] { return m_downloads->RunningWorkers() == 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(counter->toPlainText(), QStringLiteral("1-------------0"));

    // Two rows of other files: the scan takes a second per row and touches neither.
    AddRow("x.bin");
    AddRow("y.bin");
    CurrentFile file;
    file.CurrentFileName = "z.bin";
    m_state.SetCurrentFile(file);
    RunHandler("按钮_开始下载");
    EXPECT_EQ(number->toPlainText(), QStringLiteral("2"));
    ASSERT_TRUE(
        WaitFor([&] { return m_downloads->RunningWorkers() == 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(counter->toPlainText(), QStringLiteral("3-------------2"));
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(TaskList(), row, pandrel::kStateColumn), "");
        EXPECT_EQ(Cell(TaskList(), row, pandrel::kHandleColumn), "");
    }
    auto* log = List("列表框_工作日志");
    const std::vector<std::string> endings = {"任务：已下载完成", "任务：z.bin已下载完成"};
    ASSERT_EQ(log->topLevelItemCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const std::string line = Cell(log, row, 0);
        EXPECT_EQ(line.substr(0, 2), "{ ") << line;
        EXPECT_TRUE(line.ends_with(" } " + endings[row])) << line;
    }
}

} // namespace
