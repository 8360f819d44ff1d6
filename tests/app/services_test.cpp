// The control services against the real window: properties, list rows and cells, the timer
// rules, the work log, calls from a worker thread, the browser and the deployment values.

#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <fstream>
#include <thread>

#include "runtime/ui/controls.h"
#include "runtime/ui/deployment_loader.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/work_log.h"
#include "window_fixture.h"

using namespace pandrel;

namespace {

constexpr const char* kTasks = "列表框_任务信息";

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

} // namespace

TEST_F(WindowTest, SelectedRowIsMinusOneWithoutASelection) {
    StartWindow();
    EXPECT_EQ(GetIntegerProperty(kTasks, Property::SelectedRow), -1);
    for (int i = 0; i < 3; ++i) {
        InsertRow(kTasks);
    }
    auto* list = Control<QTreeWidget>(kTasks);
    list->setCurrentItem(list->topLevelItem(2));
    EXPECT_EQ(GetIntegerProperty(kTasks, Property::SelectedRow), 2);
    DeleteAllRows(kTasks);
    EXPECT_EQ(RowCount(kTasks), 0);
    EXPECT_EQ(GetIntegerProperty(kTasks, Property::SelectedRow), -1);
}

TEST_F(WindowTest, InsertRowPlacesRowsAndCellsReadBack) {
    StartWindow();
    const struct {
        int position;
        const char* caption;
        int expectedIndex;
    } inserts[] = {{-1, "a", 0}, {-1, "b", 1}, {-5, "c", 2}, {0, "first", 0}, {99, "last", 4}};
    for (const auto& insert : inserts) {
        EXPECT_EQ(InsertRow(kTasks, insert.position, insert.caption), insert.expectedIndex)
            << insert.caption;
    }
    const char* order[] = {"first", "a", "b", "c", "last"};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(GetCellText(kTasks, row), order[row]);
        EXPECT_EQ(GetCellText(kTasks, row, 1), "") << "other columns start empty";
    }

    const Text handle = "123456789";
    const Text longText(3000, 'x');
    SetCellText(kTasks, 1, 6, handle);
    SetCellText(kTasks, 1, 4, longText);
    SetCellText(kTasks, 1, 7, "no such column");
    SetCellText(kTasks, 9, 0, "no such row");
    SetCellText(kTasks, -1, 0, "no such row");
    EXPECT_EQ(GetCellText(kTasks, 1, 6), handle);
    EXPECT_EQ(GetCellText(kTasks, 1, 4), longText);
    EXPECT_EQ(GetCellText(kTasks, 1, 7), "");
    EXPECT_EQ(GetCellText(kTasks, 9, 0), "");
    EXPECT_EQ(GetCellText(kTasks, -1, 0), "");
    EXPECT_EQ(RowCount(kTasks), 5);
    EXPECT_EQ(InsertRow("不存在的列表"), -1);
}

TEST_F(WindowTest, TimerIntervalRules) {
    StartWindow();
    auto* timer = Control<QTimer>("时钟1");
    int ticks = 0;
    QObject::connect(timer, &QTimer::timeout, timer, [&ticks] { ++ticks; });

    SetProperty("时钟1", Property::Interval, std::int32_t{300});
    ASSERT_TRUE(timer->isActive());
    WaitFor([] { return false; }, std::chrono::milliseconds(200), PumpEvents);
    const int left = timer->remainingTime();
    // The same value again must not restart the period that is running.
    SetProperty("时钟1", Property::Interval, std::int32_t{300});
    EXPECT_LE(timer->remainingTime(), left);
    EXPECT_TRUE(WaitFor([&] { return ticks > 0; }, std::chrono::seconds(2), PumpEvents));

    SetProperty("时钟1", Property::Interval, std::int32_t{500});
    EXPECT_EQ(timer->interval(), 500);
    EXPECT_GT(timer->remainingTime(), 300) << "a new value restarts the period";

    for (std::int32_t stop : {0, -20}) {
        SetProperty("时钟1", Property::Interval, std::int32_t{400});
        SetProperty("时钟1", Property::Interval, stop);
        EXPECT_FALSE(timer->isActive()) << stop;
    }
    const int before = ticks;
    WaitFor([] { return false; }, std::chrono::milliseconds(700), PumpEvents);
    EXPECT_EQ(ticks, before) << "a stopped timer ticks no more";
}

TEST_F(WindowTest, OnlyTheListedPropertyPairsAreServed) {
    StartWindow();
    SetProperty("编辑框2", Property::Content, "new");
    EXPECT_EQ(GetTextProperty("编辑框2", Property::Content), "") << "编辑框2 is write-only";
    SetProperty("选择框1", Property::Checked, true);
    EXPECT_FALSE(GetTruthProperty("选择框1", Property::Checked)) << "选择框1 is read-only";
    SetProperty("主窗口", Property::Width, std::int32_t{800});
    EXPECT_EQ(m_window->width(), 800);
    EXPECT_EQ(m_window->height(), 448);

    // Texts read back exactly as set, however long; 状态 shows each line break as a space.
    auto* status = Control<QLabel>("状态");
    const struct {
        const char* control;
        Property property;
        Text text;
        QString shown; // 状态 only
    } texts[] = {
        {"编辑框1", Property::Content, "两行\n文本", {}},
        {"编辑框1", Property::Content, Text(100000, 'x') + "尾", {}},
        {"状态", Property::Caption, "正在解析：链接：a\r\n提取码：b\nc\rd",
         QStringLiteral("正在解析：链接：a 提取码：b c d")},
        {"状态", Property::Caption, "<b>不是格式</b>\u2028e", QStringLiteral("<b>不是格式</b> e")},
    };
    for (const auto& t : texts) {
        SetProperty(t.control, t.property, t.text);
        EXPECT_EQ(GetTextProperty(t.control, t.property), t.text) << t.control;
        if (!t.shown.isEmpty()) {
            EXPECT_EQ(status->text(), t.shown);
            EXPECT_EQ(status->textFormat(), Qt::PlainText);
        }
    }
}

TEST_F(WindowTest, WorkerThreadWritesCellsThroughTheUiThread) {
    StartWindow();
    constexpr int kRows = 40;
    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0};
    std::thread worker([&] {
        for (int i = 0; i < kRows; ++i) {
            const int row = InsertRow(kTasks, -1, "task" + std::to_string(i));
            for (int column = 1; column < 7; ++column) {
                const Text text = std::to_string(i) + ":" + std::to_string(column);
                SetCellText(kTasks, row, column, text);
                if (GetCellText(kTasks, row, column) != text) {
                    ++mismatches;
                }
            }
            SetProperty("状态", Property::Caption, "row " + std::to_string(i));
            AppendLog("worker row " + std::to_string(i), true);
        }
        done = true;
    });
    // The UI thread keeps handling events, as it does while a download runs.
    const bool finished =
        WaitFor([&] { return done.load(); }, std::chrono::seconds(30), PumpEvents);
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(RowCount(kTasks), kRows);
    EXPECT_EQ(GetCellText(kTasks, kRows - 1, 6), std::to_string(kRows - 1) + ":6");
    EXPECT_EQ(RowCount("列表框_工作日志"), kRows);
}

TEST(WorkLog, LineFormat) {
    const struct {
        const char* message;
        bool stamp;
        int hour, minute, second;
        const char* line;
    } cases[] = {
        {"释放完成", true, 9, 5, 3, "{ 09:05:03 } 释放完成"},
        {"late", true, 23, 59, 59, "{ 23:59:59 } late"},
        {"plain", false, 9, 5, 3, "plain"},
        {"", true, 9, 5, 3, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LogLine(c.message, c.stamp, c.hour, c.minute, c.second), c.line);
    }
}

TEST_F(WindowTest, AppendLogAddsAStampedRow) {
    StartWindow();
    AppendLog("第一行", true);
    AppendLog("第二行", false);
    ASSERT_EQ(RowCount("列表框_工作日志"), 2);
    const Text first = GetCellText("列表框_工作日志", 0);
    ASSERT_EQ(first.size(), Text("{ 00:00:00 } 第一行").size());
    EXPECT_TRUE(first.starts_with("{ ") && first.substr(4, 1) == ":" &&
                first.ends_with(" } 第一行"))
        << first;
    EXPECT_EQ(GetCellText("列表框_工作日志", 1), "第二行");
}

TEST_F(WindowTest, MenuItemsOpenTheDeploymentAddresses) {
    std::ofstream(PathOf("pandrel.ini")) << "[deployment]\nforum_page=http://127.0.0.1:9/board\n";
    m_state.deployment = LoadDeployment(Dir());
    StartWindow();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "Open");
    for (QAction* action : Control<QMenu>("菜单3")->actions()) {
        action->trigger();
    }
    WaitFor([&] { return catcher.opened.size() == 2; }, std::chrono::seconds(3), PumpEvents);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    ASSERT_EQ(catcher.opened.size(), 2);
    EXPECT_EQ(catcher.opened[0], QUrl(QStringLiteral("http://127.0.0.1:9/board")));
    EXPECT_EQ(catcher.opened[1], QUrl(QStringLiteral("http://127.0.0.1:8580/")));
}

class DeploymentTest : public SandboxTest {};

TEST_F(DeploymentTest, FileOverridesOnlyTheKeysItHas) {
    const Deployment defaults;
    const struct {
        const char* label;
        const char* ini; // nullptr: no file
        Deployment expected;
    } cases[] = {
        {"no file", nullptr, defaults},
        {"every key, with comments",
         "[deployment]\n"
         "parse_service=http://127.0.0.1:9000/    ; base URL\n"
         "share_host=share.test                   ; domain\n"
         "forum_page=http://127.0.0.1:9000/forum\n"
         "sample_share=ZyXwVuTsRqPoNmLkJiHgFeD\n"
         "sample_code=9876\n",
         {"http://127.0.0.1:9000/", "share.test", "http://127.0.0.1:9000/forum",
          "ZyXwVuTsRqPoNmLkJiHgFeD", "9876"}},
        {"one key, one empty",
         "[deployment]\nsample_code=4321\nshare_host=\n",
         {defaults.parseService, defaults.shareHost, defaults.forumPage, defaults.sampleShare,
          "4321"}},
        {"other group", "[other]\nsample_code=4321\n", defaults},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::remove(PathOf("pandrel.ini").c_str());
        if (c.ini != nullptr) {
            std::ofstream(PathOf("pandrel.ini")) << c.ini;
        }
        const Deployment loaded = LoadDeployment(Dir());
        EXPECT_EQ(loaded.parseService, c.expected.parseService);
        EXPECT_EQ(loaded.shareHost, c.expected.shareHost);
        EXPECT_EQ(loaded.forumPage, c.expected.forumPage);
        EXPECT_EQ(loaded.sampleShare, c.expected.sampleShare);
        EXPECT_EQ(loaded.sampleCode, c.expected.sampleCode);
    }
}

#include "services_test.moc"
