#include "download/engine_deployment.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "resources/carried_files.h"
#include "support/sandbox.h"
#include "zip_builder.h"

#include <unzip.h>

namespace {

using pandrel::Bytes;
using pandrel::Text;

// Counts Init calls at the engine boundary and keeps the host folder it was given before
// them; the deployment never calls anything else.
class CountingEngine : public pandrel::EngineApi {
public:
    explicit CountingEngine(std::int32_t initResult = 1) : m_initResult(initResult) {}
    std::int32_t SetHostFolder(const Text& folder) override {
        hostFolder = folder;
        return 1;
    }
    std::int32_t Init() override {
        ++inits;
        hostFolderAtInit = hostFolder;
        return m_initResult;
    }
    std::int32_t CreateTask(const void*) override { return ++unexpected; }
    std::int32_t StartTask(std::int32_t) override { return ++unexpected; }
    std::int32_t QueryTaskInfoEx(std::int32_t, void*) override { return ++unexpected; }
    std::int32_t StopTask(std::int32_t) override { return ++unexpected; }
    std::int32_t DeleteTask(std::int32_t) override { return ++unexpected; }

    int inits = 0;
    int unexpected = 0;
    Text hostFolder;
    Text hostFolderAtInit;

private:
    std::int32_t m_initResult;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<ZipMember> kMembers = {
    {"dlhost", "#!/bin/sh\necho host\n" + std::string(70000, '#'), 0755},
    {"engine.dat", std::string(1234, 'd')},
};

class DeploymentTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        ScopedTempDir scratch;
        const std::string zip = scratch.Path() + "/engine.zip";
        ASSERT_TRUE(WriteZip(zip, kMembers));
        const std::string bytes = Slurp(zip);
        m_archive.assign(bytes.begin(), bytes.end());
    }

    bool Deploy(pandrel::EngineApi& engine, const Bytes& archive) {
        m_log.clear();
        return pandrel::DeployEngine(
            Dir(), archive, [this](const Text& line) { m_log.push_back(line); }, engine,
            m_engineDir);
    }
    bool Deploy(pandrel::EngineApi& engine) { return Deploy(engine, m_archive); }

    void ExpectMembersInPlace() {
        for (const ZipMember& m : kMembers) {
            SCOPED_TRACE(m.name);
            EXPECT_EQ(std::filesystem::file_size(m_engineDir + m.name), m.content.size());
            EXPECT_EQ(Slurp(m_engineDir + m.name), m.content);
        }
        EXPECT_FALSE(std::filesystem::exists(m_engineDir + "tmp.zip"));
    }

    Bytes m_archive;
    std::vector<Text> m_log;
    Text m_engineDir;
};

TEST_F(DeploymentTest, FreshAndSecondStart) {
    CountingEngine first;
    ASSERT_TRUE(Deploy(first));
    EXPECT_EQ(m_engineDir, Dir() + "/DownLoad/");
    ExpectMembersInPlace();
    EXPECT_TRUE(::access((m_engineDir + "dlhost").c_str(), X_OK) == 0);
    EXPECT_EQ(m_log, std::vector<Text>{"释放程序下载引擎文件完成"});
    EXPECT_EQ(first.inits, 1);
    EXPECT_EQ(first.hostFolderAtInit, m_engineDir) << "the host must start where it was released";

    // The next start writes everything again, whatever is there; other files stay.
    std::ofstream(m_engineDir + "engine.dat", std::ios::trunc) << "damaged";
    std::ofstream(m_engineDir + "engine.log") << "kept";
    CountingEngine second;
    ASSERT_TRUE(Deploy(second));
    ExpectMembersInPlace();
    EXPECT_EQ(Slurp(m_engineDir + "engine.log"), "kept");
    EXPECT_EQ(m_log, std::vector<Text>{"释放程序下载引擎文件完成"});
    EXPECT_EQ(second.inits, 1);
    EXPECT_EQ(second.unexpected, 0);

    // An engine that does not come up is not logged after the release line.
    CountingEngine refusing(0);
    EXPECT_FALSE(Deploy(refusing));
    EXPECT_EQ(m_log, std::vector<Text>{"释放程序下载引擎文件完成"});
    EXPECT_EQ(refusing.inits, 1);
}

TEST_F(DeploymentTest, EachFailingStepLogsItsLineAndLeavesTheEngineAlone) {
    const std::string engineDir = Dir() + "/DownLoad/";
    struct Case {
        const char* label;
        std::function<void()> arrange;
        bool garbageArchive;
        Text logLine;
        bool zipLeft;
    } cases[] = {
        {"file named DownLoad", [&] { std::ofstream(Dir() + "/DownLoad") << "x"; }, false,
         "创建程序下载引擎目录失败", false},
        {"tmp.zip is a folder",
         [&] { std::filesystem::create_directories(engineDir + "tmp.zip/inner"); }, false,
         "释放程序下载引擎文件失败", true},
        {"read-only member",
         [&] {
             std::filesystem::create_directories(engineDir);
             std::ofstream(engineDir + "dlhost") << "old";
             ::chmod((engineDir + "dlhost").c_str(), 0444);
         },
         false, "解压程序下载引擎文件失败", true},
        {"archive is not a zip", [] {}, true, "解压程序下载引擎文件失败", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(Dir() + "/DownLoad");
        c.arrange();
        CountingEngine engine;
        EXPECT_FALSE(Deploy(engine, c.garbageArchive ? Bytes(100, 'z') : m_archive));
        EXPECT_EQ(m_log, std::vector<Text>{c.logLine});
        EXPECT_EQ(engine.inits, 0);
        EXPECT_EQ(std::filesystem::exists(engineDir + "tmp.zip"), c.zipLeft);
    }
}

TEST_F(DeploymentTest, GzipLibraryIsReleasedBesideTheProgramOnlyWhenMissing) {
    const Bytes library = {0x7F, 'E', 'L', 'F', 1, 2, 3};
    const std::string target = Dir() + "/libgzip.so";
    const std::string cwdTarget = std::filesystem::current_path().string() + "/libgzip.so";
    const bool cwdHadOne = std::filesystem::exists(cwdTarget);

    pandrel::ReleaseGzipLibrary(Dir(), library);
    EXPECT_EQ(Slurp(target), std::string(library.begin(), library.end()));
    EXPECT_EQ(std::filesystem::exists(cwdTarget), cwdHadOne);

    std::ofstream(target, std::ios::trunc) << "someone else's";
    pandrel::ReleaseGzipLibrary(Dir(), library);
    EXPECT_EQ(Slurp(target), "someone else's");

    std::filesystem::remove(target);
    std::filesystem::create_directory(target);
    pandrel::ReleaseGzipLibrary(Dir(), library);
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_TRUE(std::filesystem::is_empty(target));
}

TEST_F(DeploymentTest, CarriedFilesAreTheBuiltOnes) {
    const Bytes gzip = pandrel::GzipLibraryBytes();
    const std::string built = Slurp(PANDREL_GZIP_LIBRARY_FILE);
    ASSERT_FALSE(built.empty());
    EXPECT_EQ(std::string(gzip.begin(), gzip.end()), built);

    pandrel::ReleaseGzipLibrary(Dir());
    EXPECT_EQ(Slurp(Dir() + "/libgzip.so"), built);

#ifdef PANDREL_ENGINE_HOST_FILE
    // The carried archive: deflated members with plain names, no folders, no comment.
    const Bytes archive = pandrel::EngineArchiveBytes();
    const std::string zip = Dir() + "/carried.zip";
    std::ofstream(zip, std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()),
               static_cast<std::streamsize>(archive.size()));
    unzFile file = unzOpen64(zip.c_str());
    ASSERT_NE(file, nullptr);
    unz_global_info64 global{};
    ASSERT_EQ(unzGetGlobalInfo64(file, &global), UNZ_OK);
    EXPECT_EQ(global.size_comment, 0u);
    for (int status = unzGoToFirstFile(file); status == UNZ_OK; status = unzGoToNextFile(file)) {
        unz_file_info64 info{};
        char name[512] = {};
        ASSERT_EQ(
            unzGetCurrentFileInfo64(file, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0),
            UNZ_OK);
        SCOPED_TRACE(name);
        EXPECT_EQ(info.compression_method, 8u);
        EXPECT_EQ(std::string(name).find('/'), std::string::npos);
    }
    unzClose(file);

    // The carried archive deploys the engine's companion process exactly as it was built.
    CountingEngine engine;
    m_log.clear();
    ASSERT_TRUE(pandrel::DeployEngine(
        Dir(), [this](const Text& line) { m_log.push_back(line); }, engine, m_engineDir));
    EXPECT_EQ(Slurp(m_engineDir + "dlhost"), Slurp(PANDREL_ENGINE_HOST_FILE));
    EXPECT_EQ(::access((m_engineDir + "dlhost").c_str(), X_OK), 0);
    EXPECT_EQ(engine.inits, 1);
#endif
}

} // namespace
