#pragma once

#include <QApplication>
#include <QTreeWidget>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "download/download_manager.h"
#include "runtime/program_state.h"
#include "share_sim_process.h"
#include "support/sandbox.h"

// Handles pending events of the offscreen application for a moment.
void PumpEvents();

// The real engine library beside the test program, one for the whole binary as in the program.
pandrel::EngineApi& TestEngine();

// A fresh run directory, program state, download manager and main window per test. The task
// list's "状态" cells are recorded as they change, so a test sees every state a row went
// through, not just the one it happens to sample.
class TaskWindowTest : public SandboxTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the window and runs start-up, with the real engine deployment and gzip release
    // when `withEngine`, none otherwise.
    void StartWindow(bool withEngine);
    // Closes the window as the program does when it ends (workers stopped, the engine's tasks
    // forgotten, their files kept) and starts a new one with the engine.
    void RestartWindow();

    QTreeWidget* List(const char* name) const;
    QTreeWidget* TaskList() const { return List("列表框_任务信息"); }
    QTreeWidget* FileList() const { return List("文件列表框"); }
    std::string Cell(QTreeWidget* list, int row, int column) const;
    void Select(QTreeWidget* list, int row);
    // Runs the handler the window's event table binds to a control (and menu item), at once.
    void RunHandler(const char* control, const char* item = nullptr);
    // Chooses a menu item through its action, as the user does, and lets its handler run.
    void Trigger(const char* menu, const char* item);
    // "下载该文件" on file-list row `row`; the row is added and its worker started on return.
    void DownloadFileRow(int row);

    bool WaitFor(const std::function<bool()>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::seconds(60));
    bool WaitForState(int row, const char* state,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Every distinct state row `row` showed, in order.
    const std::vector<std::string>& StatesOf(int row) { return m_states[row]; }

    pandrel::ProgramState m_state;
    std::unique_ptr<pandrel::DownloadManager> m_downloads;
    std::unique_ptr<pandrel::MainWindow> m_window;

private:
    // Stops the workers and has the engine forget the tasks the rows name; files stay.
    void EndTasks();

    std::map<int, std::vector<std::string>> m_states;
};

// A share served by a share-sim of its own: files written into <sandbox>/shares/<id>/.
class ShareTest : public TaskWindowTest {
protected:
    static constexpr const char* kShareId = "QwErTyUiOpAsDfGhJkLzXcV";
    static constexpr const char* kShareCode = "a1b2";

    void TearDown() override;

    // Writes a file of `size` pattern bytes into the share; gives its bytes.
    std::string AddShareFile(const std::string& name, std::size_t size);
    std::string ShareFilePath(const std::string& name) const;
    // Starts share-sim on the share folder with its download log; the options are share-sim's.
    void StartShareSim(const std::vector<std::string>& options = {});
    // Starts the window with the engine and parses the share through "解析".
    void OpenAndParse();

    std::string SavedFile(const std::string& name) const;
    std::string LogPath() const { return PathOf("share-sim.log"); }

    ShareSimProcess m_shareSim;
};
