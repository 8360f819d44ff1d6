// The engine binding against the real engine library and its host process, with a loopback
// HTTP server as the file's source.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "download/engine_binding.h"
#include "download/task_records.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "support/wait_for.h"

namespace {

// The real engine, bound by its bare name beside the test program, driven through the records.
class RealEngineTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        m_payload.resize(700000);
        for (std::size_t i = 0; i < m_payload.size(); ++i) {
            m_payload[i] = static_cast<char>((i * 31 + i / 1000) & 0xFF);
        }
        ServedFile file;
        file.body = m_payload;
        m_server.Serve("/file.bin", file);
        ServedFile refused;
        refused.status = 403;
        m_server.Serve("/refused.bin", refused);
    }
    std::string Url(const std::string& path) const { return m_server.Url(path); }
    // Polls the task the way a download worker does until `stat` is reached.
    bool WaitForState(pandrel::EngineApi& engine, std::int32_t handle,
                      pandrel::TaskStatusInfo& status, std::int32_t stat) {
        return WaitFor(
            [&] {
                engine.QueryTaskInfoEx(handle, status.BlockAddress());
                return status.stat() == stat;
            },
            std::chrono::seconds(60));
    }

    std::string m_payload;

private:
    LoopbackServer m_server;
};

TEST_F(RealEngineTest, DownloadsThroughTheBoundFunctions) {
    pandrel::LibraryEngine engine;
    ASSERT_NE(engine.Init(), 0);
    const std::string saveDir = Dir() + "/下载目录/";
    std::filesystem::create_directories(saveDir);

    struct Case {
        std::string path, name;
        std::int32_t finalStat;
    } cases[] = {{"/file.bin", "文件 一.bin", 4}, {"/refused.bin", "refused.bin", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        pandrel::TaskCreateParams params;
        ASSERT_NE(params.Fill(Url(c.path), "", "", c.name, saveDir, false, true, true), nullptr);
        pandrel::TaskStatusInfo status;
        ASSERT_NE(status.Init(), nullptr);
        const std::int32_t handle = engine.CreateTask(params.BlockAddress());
        engine.StartTask(handle);
        ASSERT_TRUE(WaitForState(engine, handle, status, c.finalStat)) << status.stat();
        if (c.finalStat == 4) {
            std::ifstream in(saveDir + c.name, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), m_payload);
            EXPECT_EQ(status.nTotalSize(), static_cast<std::int64_t>(m_payload.size()));
            EXPECT_EQ(status.PercentText(), "100.00 %");
            EXPECT_EQ(status.SizeText(), "0.67/0.67 MB");
        }
        engine.StopTask(handle);
        engine.DeleteTask(handle);
        // A deleted task is unknown to the engine.
        engine.QueryTaskInfoEx(handle, status.BlockAddress());
        EXPECT_EQ(status.stat(), 0);
    }
}

} // namespace
