// The parse command end to end: the real window, its "解析" button, share-sim as the parse
// service on a loopback port, and the record file in a temporary run directory.

#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "app/application.h"
#include "http/page_fetch.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/qt_text.h"
#include "share/parse_command.h"
#include "share_sim_process.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"

using namespace pandrel;

namespace {

namespace fs = std::filesystem;

constexpr const char* kShare = "Sh4reIdXyz";
constexpr const char* kCode = "k9Qz";
constexpr const char* kEmptyShare = "EmptyShare1";
constexpr const char* kNoShareLink = "解析失败：未识别到分享链接和提取码";
constexpr const char* kNoListing = "解析失败：解析服务没有返回文件列表";
constexpr const char* kTooLarge = "解析失败：文件列表过大";
constexpr const char* kNoConnection = "解析失败：无法连接解析服务";
constexpr const char* kTimedOut = "解析失败：解析服务超时";

struct ShareFile {
    Text name;
    Text bytes;
    Text sizeText;
};

// Listed by share-sim in byte order of the names.
const std::vector<ShareFile>& ShareFiles() {
    static const std::vector<ShareFile> files = {
        {"empty.dat", "", "0 B"},
        {"报告 一.txt", "hello", "5 B"},
        {"数据-😀.bin", Text(1536, 'x'), "1.50 KB"},
    };
    return files;
}

QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "parse-command-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

Text LinkText(const Text& id, const Text& code, const Text& separator = " ") {
    return "链接：https://pan.example.com/s/" + id + separator + "提取码：" + code;
}

class ParseCommandTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        TestApplication();
        const fs::path shares = PathOf("shares");
        fs::create_directories(shares / kShare);
        WriteFile(shares / kShare / ".code", std::string(kCode) + "\n");
        for (const ShareFile& file : ShareFiles()) {
            WriteFile(shares / kShare / file.name, file.bytes);
        }
        fs::create_directories(shares / kEmptyShare);
        WriteFile(shares / kEmptyShare / ".code", "0000");
        ASSERT_TRUE(m_service.Start(shares.string())) << m_service.Error();

        m_runDir = PathOf("run");
        fs::create_directories(m_runDir);
        UseService(m_service.BaseUrl() + "/");
        StartProgram();
    }

    // Points the next start of the program at that parse service.
    void UseService(const std::string& baseUrl) {
        WriteFile(m_runDir + "/pandrel.ini", "[deployment]\nparse_service=" + baseUrl +
                                                 "\nshare_host=pan.example.com\nsample_share=" +
                                                 kShare + "\nsample_code=" + kCode + "\n");
    }

    void TearDown() override {
        m_program.reset();
        QApplication::processEvents();
        SandboxTest::TearDown();
    }

    // The window and its start-up, as the program runs them, in the test's run directory.
    void StartProgram() {
        m_program.reset();
        m_program = std::make_unique<Application>(m_runDir);
        StartupSteps steps;
        steps.leftoverProcessName = "parse-test-no-such-process-" + std::to_string(getpid());
        m_program->Start(steps);
        QApplication::processEvents();
    }

    template <typename T> T* Control(const char* name) const {
        T* control = m_program->Window()->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    // Replaces the input box's text the way a paste from an input method arrives.
    void Paste(const Text& text) {
        auto* input = Control<QLineEdit>("编辑框1");
        input->setFocus();
        input->selectAll();
        QInputMethodEvent event;
        event.setCommitString(ToQString(text));
        QApplication::sendEvent(input, &event);
    }

    void PressParse() {
        QTest::mouseClick(Control<QPushButton>("解析"), Qt::LeftButton);
        QApplication::processEvents();
    }

    // The caption as set; the label itself shows each line break as a space.
    Text Status() const { return GetTextProperty("状态", Property::Caption); }
    Text Diagnostic() const {
        return FromQString(Control<QPlainTextEdit>("编辑框2")->toPlainText());
    }
    Text Record() const { return Contents(m_runDir + "/test.txt"); }

    // Every cell of the file list, row by row.
    std::vector<std::vector<Text>> Rows() const {
        auto* list = Control<QTreeWidget>("文件列表框");
        std::vector<std::vector<Text>> rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            std::vector<Text> cells;
            for (int column = 0; column < 4; ++column) {
                cells.push_back(FromQString(list->topLevelItem(i)->text(column)));
            }
            rows.push_back(cells);
        }
        return rows;
    }

    Text SuccessText(const Text& id, const Text& code, int files) const {
        return "解析成功——https://pan.example.com/s/" + id + "-----" + code + "共有：" +
               std::to_string(files) + "个文件";
    }

    ShareSimProcess m_service;
    std::string m_runDir;
    std::unique_ptr<Application> m_program;
};

TEST_F(ParseCommandTest, ParseFillsTheListWithTheShareFiles) {
    Paste(LinkText(kShare, kCode));
    PressParse();

    const Text id = Text(kShare) + " ";
    ASSERT_EQ(Status(), SuccessText(id, kCode, 3));
    const ProgramState& state = m_program->State();
    EXPECT_EQ(state.ParseRequestUrl, m_service.BaseUrl() + "/?share=" + id + "&pwd=" + kCode);
    EXPECT_EQ(state.RecordRowCount, 3);

    const auto rows = Rows();
    ASSERT_EQ(rows.size(), ShareFiles().size());
    const Text linkBase = m_service.BaseUrl() + "/d/" + kShare + "/";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(ShareFiles()[i].name);
        EXPECT_EQ(rows[i][0], std::to_string(i + 1));
        EXPECT_EQ(rows[i][1], ShareFiles()[i].name);
        EXPECT_EQ(rows[i][2], ShareFiles()[i].sizeText);
        EXPECT_TRUE(rows[i][3].starts_with(linkBase)) << rows[i][3];
        EXPECT_EQ(rows[i][3].find('"'), Text::npos) << rows[i][3];
        // The link is the file's real address: it brings back the file's bytes.
        const Bytes body = FetchPageBytes(rows[i][3]);
        EXPECT_EQ(Text(body.begin(), body.end()), ShareFiles()[i].bytes);
    }

    // The record file holds exactly the table body, which the diagnostic box ends with, after
    // the request URL and the raw page.
    const Text record = Record();
    EXPECT_EQ(record, state.RecordText);
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 4) << record;
    EXPECT_NE(record.find("<tr><td>报告 一.txt</td><td>5 B</td><td><a target"), Text::npos);
    const Text diagnostic = Diagnostic();
    EXPECT_TRUE(diagnostic.starts_with(state.ParseRequestUrl + "\n<!DOCTYPE html>")) << diagnostic;
    EXPECT_TRUE(diagnostic.ends_with("</html>\n\n" + record)) << diagnostic;
}

TEST_F(ParseCommandTest, SeparatorsAndCaseOfThePastedTextReachTheService) {
    struct Case {
        const char* name;
        Text input;
        Text id; // as extracted, separator included
        Text code;
    };
    const std::vector<Case> cases = {
        {"one space", LinkText(kShare, kCode), Text(kShare) + " ", kCode},
        {"two spaces", LinkText(kShare, kCode, "  "), Text(kShare) + " ", kCode},
        {"tilde", LinkText(kShare, kCode, "~ "), Text(kShare) + "~", kCode},
        {"tab", LinkText(kShare, kCode, "\t"), Text(kShare) + "\t", kCode},
        // The carriage return goes out percent-encoded and the service drops it.
        {"line break", LinkText(kShare, kCode, "\r\n"), Text(kShare) + "\r", kCode},
        {"capital code", LinkText(kShare, "K9QZ"), Text(kShare) + " ", "K9QZ"},
        {"Chinese character inside the first run", LinkText(kShare, "ab中" + Text(kCode)),
         Text(kShare) + " ", kCode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Paste(c.input);
        PressParse();
        EXPECT_EQ(Status(), SuccessText(c.id, c.code, 3));
        EXPECT_FALSE(Control<QLabel>("状态")->text().contains(QLatin1Char('\r')));
        EXPECT_EQ(m_program->State().ShareId, c.id);
        EXPECT_EQ(m_program->State().ShareInputText, c.input);
        EXPECT_EQ(Rows().size(), 3u) << "a second parse must replace the rows, not add to them";
    }
}

TEST_F(ParseCommandTest, ServiceAddressForms) {
    for (const std::string host : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(host);
        ShareSimProcess service;
        ASSERT_TRUE(service.Start(PathOf("shares"), {"--host", host})) << service.Error();
        UseService(service.BaseUrl() + "/");
        StartProgram();
        Paste(LinkText(kShare, kCode));
        PressParse();
        EXPECT_EQ(Status(), SuccessText(Text(kShare) + " ", kCode, 3));
        EXPECT_EQ(Rows().size(), 3u);
        EXPECT_TRUE(Diagnostic().starts_with(service.BaseUrl() + "/?share=")) << Diagnostic();
        EXPECT_NE(Diagnostic().find("<!DOCTYPE html>"), Text::npos) << "the second fetch";
    }
}

TEST_F(ParseCommandTest, ShareWithoutFilesIsASuccessWithNoRows) {
    Paste(LinkText(kShare, kCode));
    PressParse();
    ASSERT_EQ(Rows().size(), 3u);

    Paste(LinkText(kEmptyShare, "0000"));
    PressParse();
    EXPECT_EQ(Status(), SuccessText(Text(kEmptyShare) + " ", "0000", 0));
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Record(), "\n");
    EXPECT_EQ(m_program->State().RecordRowCount, 0);
}

// Each way a parse can fail says why, and keeps the previous listing.
TEST_F(ParseCommandTest, FailedParseSaysWhyAndKeepsThePreviousListing) {
    Paste(LinkText(kShare, kCode));
    PressParse();
    ASSERT_EQ(Status(), SuccessText(Text(kShare) + " ", kCode, 3));
    const auto rowsBefore = Rows();
    const Text recordBefore = Record();
    const Text diagnosticBefore = Diagnostic();
    const Text urlBefore = m_program->State().ParseRequestUrl;

    struct Case {
        const char* name;
        Text input;
        Text status;
        bool requestSent;
        // share-sim's listing faults; a case with some asks a share-sim of its own
        std::vector<std::string> serviceFaults;
        bool stopService; // the parse service no longer answers: its port is closed
    };
    const std::vector<Case> cases = {
        {"no share host",
         "链接：https://other.example.org/s/" + Text(kShare) + " 提取码：k9Qz",
         kNoShareLink,
         false,
         {},
         false},
        {"no code after the link",
         "https://pan.example.com/s/" + Text(kShare),
         kNoShareLink,
         false,
         {},
         false},
        {"empty input", "", kNoShareLink, false, {}, false},
        {"wrong code", LinkText(kShare, "zzzz"), kNoListing, true, {}, false},
        {"unknown share", LinkText("NoSuchShare", kCode), kNoListing, true, {}, false},
        {"maintenance",
         LinkText(kShare, kCode),
         "解析失败：解析服务返回错误（HTTP 503）",
         true,
         {"--listing-status", "503"},
         false},
        {"refused",
         LinkText(kShare, kCode),
         "解析失败：解析服务返回错误（HTTP 403）",
         true,
         {"--listing-status", "403"},
         false},
        {"error status below 400",
         LinkText(kShare, kCode),
         kNoListing,
         true,
         {"--listing-status", "202"},
         false},
        {"silent service", LinkText(kShare, kCode), kTimedOut, true, {"--listing-stall"}, false},
        {"closed port", LinkText(kShare, kCode), kNoConnection, true, {}, true},
    };
    std::string serviceInUse = m_service.BaseUrl();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShareSimProcess faulty;
        if (!c.serviceFaults.empty()) {
            ASSERT_TRUE(faulty.Start(PathOf("shares"), c.serviceFaults)) << faulty.Error();
        }
        const std::string service =
            c.serviceFaults.empty() ? m_service.BaseUrl() : faulty.BaseUrl();
        if (service != serviceInUse) {
            UseService(service + "/");
            StartProgram();
            serviceInUse = service;
        }
        if (c.stopService) {
            ASSERT_EQ(m_service.Stop(), 0);
        }
        SetParseTimeLimitForTesting(std::chrono::milliseconds(1500));
        Paste(c.input);
        PressParse();
        SetParseTimeLimitForTesting(std::chrono::milliseconds(0));
        EXPECT_EQ(Status(), c.status);
        EXPECT_EQ(Rows(), rowsBefore);
        EXPECT_EQ(Record(), recordBefore);
        EXPECT_EQ(m_program->State().RecordText, recordBefore);
        EXPECT_EQ(m_program->State().RecordRowCount, 3);
        if (c.requestSent) {
            // The diagnostic box shows what the service answered, or that it did not.
            EXPECT_TRUE(Diagnostic().starts_with(m_program->State().ParseRequestUrl + "\n"));
            EXPECT_NE(Diagnostic(), diagnosticBefore);
        } else {
            EXPECT_EQ(m_program->State().ParseRequestUrl, urlBefore);
            EXPECT_EQ(Diagnostic(), diagnosticBefore);
            EXPECT_TRUE(m_program->State().ShareId.empty());
        }
    }
}

// A service that answers with a listing past a limit: the parse fails and nothing is lost.
TEST_F(ParseCommandTest, ListingsPastTheLimitsFailAndKeepThePreviousListing) {
    Paste(LinkText(kShare, kCode));
    PressParse();
    const auto rowsBefore = Rows();
    const Text recordBefore = Record();
    std::string manyRows;
    for (int i = 0; i <= 100000; ++i) {
        manyRows += "<tr></tr>";
    }
    // 编辑框2 ends with the raw page, when it was not too long itself, and no listing.
    const struct {
        const char* label;
        std::string page;
        std::string diagnosticEnd;
    } cases[] = {
        {"100,001 rows", "<tbody>" + manyRows + "</tbody>", "</tr></tbody>\n"},
        {"a page over 16 MiB", "<tbody></tbody>" + std::string(16 * 1024 * 1024, ' '),
         std::string("&pwd=") + kCode + "\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        LoopbackServer service(Answer(LoopbackServer::Response("200 OK", {}, c.page)));
        UseService(service.Url("/"));
        StartProgram();
        Paste(LinkText(kShare, kCode));
        PressParse();
        EXPECT_EQ(Status(), kTooLarge);
        EXPECT_EQ(Rows(), rowsBefore);
        EXPECT_EQ(Record(), recordBefore);
        EXPECT_EQ(m_program->State().RecordText, recordBefore);
        EXPECT_EQ(m_program->State().RecordRowCount, 3);
        EXPECT_TRUE(Diagnostic().ends_with(c.diagnosticEnd));
    }
}

// Counts the paint events of one widget and notes its text at the first of them.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QLabel* label) : m_label(label) { label->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && ++paints == 1) {
            firstText = FromQString(m_label->text());
        }
        return false;
    }
    int paints = 0;
    Text firstText;

private:
    QLabel* m_label;
};

// Each fetch of the slow service takes 0.8 s: one fits in 1.2 s, the two of a parse do not.
TEST_F(ParseCommandTest, BothFetchesEndWithinTheTimeLimit) {
    LoopbackServer slow([](const RecordedRequest&) -> std::optional<std::string> {
        // The service's own slowness: the time limit is what is under test, so time must pass.
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        return LoopbackServer::Response(
            "200 OK", {}, "<tbody>\n<tr><td>slow.txt</td><td>1 B</td><td>x</td></tr></tbody>");
    });
    Paste(LinkText(kShare, kCode));
    PressParse();
    const auto rowsBefore = Rows();
    const Text recordBefore = Record();
    UseService(slow.Url("/"));
    StartProgram();
    auto* status = Control<QLabel>("状态");

    const struct {
        std::chrono::milliseconds limit;
        Text status;
        std::size_t rows;
    } cases[] = {
        {std::chrono::milliseconds(1200), kTimedOut, rowsBefore.size()},
        {std::chrono::milliseconds(6000), SuccessText(Text(kShare) + " ", kCode, 1), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit.count());
        SetParseTimeLimitForTesting(c.limit);
        const std::size_t requestsBefore = slow.Requests().size();
        PaintWatch watch(status);
        QTimer painter;
        QObject::connect(&painter, &QTimer::timeout, status, [status] { status->update(); });
        painter.start(50);
        Paste(LinkText(kShare, kCode));
        PressParse();
        SetParseTimeLimitForTesting(std::chrono::milliseconds(0));

        EXPECT_EQ(Status(), c.status);
        EXPECT_EQ(Rows().size(), c.rows);
        EXPECT_EQ(Record() == recordBefore, c.rows == rowsBefore.size());
        EXPECT_EQ(slow.Requests().size() - requestsBefore, 2u) << "the second fetch was sent";
        // The window painted while the parse waited, with the caption the parse set first.
        EXPECT_GT(watch.paints, 0);
        EXPECT_TRUE(watch.firstText.starts_with("正在解析：")) << watch.firstText;
    }
    EXPECT_EQ(m_program->State().RecordRowCount, 1);
}

TEST_F(ParseCommandTest, RestartRestoresTheLastListing) {
    Paste(LinkText(kShare, kCode));
    PressParse();
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);

    StartProgram();
    EXPECT_EQ(Status(), "已读取上次记录");
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(m_program->State().RecordRowCount, 3);
}

TEST_F(ParseCommandTest, SampleFetchReplacesOnlyTheListingText) {
    ProgramState& state = m_program->State();
    state.RecordRowCount = 7;
    auto* sample = Control<QPushButton>("加入下载列表");
    sample->click();
    QApplication::processEvents();

    EXPECT_EQ(state.RecordRowCount, 7);
    EXPECT_EQ(std::count(state.RecordText.begin(), state.RecordText.end(), '\n'), 4);
    EXPECT_TRUE(state.RecordText.starts_with("\n<tr><td>empty.dat</td>")) << state.RecordText;
    EXPECT_TRUE(Diagnostic().starts_with("<!DOCTYPE html>")) << Diagnostic();
    EXPECT_NE(Diagnostic().find("<tbody>" + state.RecordText + "</tbody>"), Text::npos);
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(fs::exists(m_runDir + "/test.txt"));
}

TEST(ExtractionPatternTest, FollowsTheConfiguredShareHost) {
    struct Case {
        Text host;
        Text input;
        ShareLink expected;
    };
    const std::vector<Case> cases = {
        {"disk.example.net", "https://disk.example.net/s/abc 提取码：1234", {"abc ", "1234"}},
        {"disk.example.net", "https://pan.example.com/s/abc 提取码：1234", {}},
        // The dot is a pattern character, as it always was.
        {"disk.example.net", "https://disk-example-net/s/abc 提取码：1234", {"abc ", "1234"}},
        {"127.0.0.1:8580", "http://127.0.0.1:8580/s/xyz 码 ab12", {"xyz ", "ab12"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const ShareLink link = ExtractShareLink(c.input, c.host);
        EXPECT_EQ(link.id, c.expected.id);
        EXPECT_EQ(link.code, c.expected.code);
    }
    EXPECT_EQ(BuildParseRequestUrl("http://h/", {"a b\r", "Zz9%"}),
              "http://h/?share=a b\r&pwd=Zz9%");
}

} // namespace
