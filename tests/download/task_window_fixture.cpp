#include "task_window_fixture.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "app/event_binding.h"
#include "app/startup.h"
#include "download/engine_binding.h"
#include "download/task_commands.h"
#include "download/task_list.h"
#include "runtime/ui/qt_text.h"
#include "support/wait_for.h"

namespace {

QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "pandrel-download-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

} // namespace

void PumpEvents() {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

pandrel::EngineApi& TestEngine() {
    static pandrel::LibraryEngine* engine = new pandrel::LibraryEngine();
    return *engine;
}

void TaskWindowTest::SetUp() {
    SandboxTest::SetUp();
    TestApplication();
    m_state.RunDir = Dir();
    m_downloads = std::make_unique<pandrel::DownloadManager>(TestEngine());
}

void TaskWindowTest::TearDown() {
    EndTasks();
    m_window.reset();
    m_downloads.reset();
    PumpEvents();
    SandboxTest::TearDown();
}

void TaskWindowTest::RestartWindow() {
    EndTasks();
    m_window.reset();
    m_downloads = std::make_unique<pandrel::DownloadManager>(TestEngine());
    m_states.clear();
    PumpEvents();
    StartWindow(true);
}

void TaskWindowTest::EndTasks() {
    // Workers of failed tasks poll until the task is deleted: stop them before the window
    // and the state go, then let the engine forget every task the rows name.
    m_downloads->StopWorkers();
    if (m_window == nullptr) {
        return;
    }
    for (int row = 0; row < TaskList()->topLevelItemCount(); ++row) {
        const int handle = std::atoi(Cell(TaskList(), row, pandrel::kHandleColumn).c_str());
        if (handle > 0) {
            pandrel::StopAndDeleteTask(TestEngine(), handle);
        }
    }
}

void TaskWindowTest::StartWindow(bool withEngine) {
    m_window = std::make_unique<pandrel::MainWindow>(m_state, m_downloads.get());
    QObject::connect(TaskList()->model(), &QAbstractItemModel::dataChanged, m_window.get(),
                     [this](const QModelIndex& from, const QModelIndex& to) {
                         for (int row = from.row(); row <= to.row(); ++row) {
                             if (from.column() > pandrel::kStateColumn ||
                                 to.column() < pandrel::kStateColumn) {
                                 continue;
                             }
                             const std::string state = Cell(TaskList(), row, pandrel::kStateColumn);
                             std::vector<std::string>& seen = m_states[row];
                             if (!state.empty() && (seen.empty() || seen.back() != state)) {
                                 seen.push_back(state);
                             }
                         }
                     });
    // The program's own engine steps, so that start-up runs here as it does in the program.
    pandrel::StartupSteps steps = withEngine
                                      ? pandrel::EngineStartupSteps(TestEngine(), *m_downloads)
                                      : pandrel::StartupSteps{};
    steps.leftoverProcessName = "pandrel-no-such-process-" + std::to_string(getpid());
    pandrel::OnMainWindowCreated(m_state, steps);
    m_window->show();
    PumpEvents();
}

QTreeWidget* TaskWindowTest::List(const char* name) const {
    return m_window->findChild<QTreeWidget*>(QString::fromUtf8(name));
}

std::string TaskWindowTest::Cell(QTreeWidget* list, int row, int column) const {
    QTreeWidgetItem* item = list->topLevelItem(row);
    return item != nullptr ? pandrel::FromQString(item->text(column)) : std::string();
}

void TaskWindowTest::Select(QTreeWidget* list, int row) {
    list->clearSelection();
    if (row >= 0) {
        list->setCurrentItem(list->topLevelItem(row));
    }
}

void TaskWindowTest::RunHandler(const char* control, const char* item) {
    for (const pandrel::EventBinding& line : pandrel::EventTable()) {
        if (std::string(line.control) == control &&
            (item == nullptr ? line.item == nullptr
                             : line.item != nullptr && std::string(line.item) == item)) {
            line.handler({m_state, m_downloads.get()});
            return;
        }
    }
    ADD_FAILURE() << "no handler bound to " << control << " " << (item ? item : "");
}

void TaskWindowTest::Trigger(const char* menu, const char* item) {
    auto* popup = m_window->findChild<QMenu*>(QString::fromUtf8(menu));
    ASSERT_NE(popup, nullptr) << menu;
    QAction* chosen = nullptr;
    for (QAction* action : popup->actions()) {
        if (action->text() == QString::fromUtf8(item)) {
            chosen = action;
        }
    }
    ASSERT_NE(chosen, nullptr) << item;
    // The binding runs the handler once control is back in the event loop, as after a menu.
    chosen->trigger();
    PumpEvents();
}

void TaskWindowTest::DownloadFileRow(int row) {
    Select(FileList(), row);
    RunHandler("菜单", "下载该文件");
}

bool TaskWindowTest::WaitFor(const std::function<bool()>& predicate,
                             std::chrono::milliseconds timeout) {
    return ::WaitFor(predicate, timeout, [] { PumpEvents(); });
}

bool TaskWindowTest::WaitForState(int row, const char* state, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return Cell(TaskList(), row, pandrel::kStateColumn) == state; }, timeout);
}

void ShareTest::TearDown() {
    TaskWindowTest::TearDown();
    m_shareSim.Stop();
}

std::string ShareTest::ShareFilePath(const std::string& name) const {
    return PathOf("shares/") + kShareId + "/" + name;
}

std::string ShareTest::AddShareFile(const std::string& name, std::size_t size) {
    const std::string folder = PathOf("shares/") + kShareId;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/.code") << kShareCode;
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + i / 4093 + name.size()) & 0xFF);
    }
    std::ofstream(ShareFilePath(name), std::ios::binary) << bytes;
    return bytes;
}

void ShareTest::StartShareSim(const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"--log", LogPath()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    ASSERT_TRUE(m_shareSim.Start(PathOf("shares"), arguments)) << m_shareSim.Error();
    m_state.deployment.parseService = m_shareSim.BaseUrl() + "/";
}

void ShareTest::OpenAndParse() {
    StartWindow(true);
    ASSERT_EQ(m_state.WorkDir, Dir() + "/下载目录/") << "start-up did not get past the engine";
    auto* input = m_window->findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    ASSERT_NE(input, nullptr);
    input->setText(QString::fromUtf8("链接：https://" + m_state.deployment.shareHost + "/s/" +
                                     kShareId + " 提取码：" + kShareCode));
    auto* parse = m_window->findChild<QPushButton*>(QStringLiteral("解析"));
    ASSERT_NE(parse, nullptr);
    parse->click();
    ASSERT_TRUE(WaitFor([&] { return FileList()->topLevelItemCount() > 0; }))
        << "the share's listing never reached the file list";
}

std::string ShareTest::SavedFile(const std::string& name) const {
    std::ifstream in(m_state.WorkDir + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
