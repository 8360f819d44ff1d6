// The window services against a window the test builds itself, with names the program never
// uses: the control, list-view and work-log services serve whatever the window registers and
// nothing else; the self-closing message box and the window search.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <memory>
#include <thread>

#include <unistd.h>

#include "runtime/ui/control_registry.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/paint_while_waiting.h"
#include "runtime/ui/process_window.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/timed_message.h"
#include "runtime/ui/work_log.h"
#include "support/wait_for.h"

using namespace pandrel;

namespace {

constexpr const char* kWindow = "窗口";
constexpr const char* kLine = "单行";
constexpr const char* kBox = "多行";
constexpr const char* kCaption = "标题";
constexpr const char* kCheck = "勾选";
constexpr const char* kTimer = "定时";
constexpr const char* kList = "列表";
constexpr const char* kLog = "日志";

QApplication& Application() {
    static int argc = 1;
    static char name[] = "ui-services-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void PumpEvents() {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

WindowControls TestControls() {
    return {{
                {kWindow, Property::Width, false, true},
                {kLine, Property::Content, true, true},
                {kBox, Property::Content, false, true},
                {kCaption, Property::Caption, true, true},
                {kCheck, Property::Checked, true, false},
                {kTimer, Property::Interval, false, true},
                {kList, Property::SelectedRow, true, false},
            },
            kLog};
}

class UiServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application();
        m_window = std::make_unique<QWidget>();
        m_window->setObjectName(QString::fromUtf8(kWindow));
        m_window->setWindowTitle(QStringLiteral("测试窗口 v2"));
        Make<QLineEdit>(kLine);
        Make<QPlainTextEdit>(kBox);
        Make<QLabel>(kCaption)->setTextFormat(Qt::RichText);
        Make<QCheckBox>(kCheck);
        Make<QTreeWidget>(kList)->setColumnCount(7);
        Make<QTreeWidget>(kLog)->setColumnCount(1);
        auto* timer = new QTimer(m_window.get());
        timer->setObjectName(QString::fromUtf8(kTimer));
        m_window->setFixedSize(900, 400);
        m_window->show();
        RegisterMainWindow(m_window.get(), TestControls());
    }
    void TearDown() override {
        m_window.reset();
        PumpEvents();
    }

    template <typename T> T* Make(const char* name) {
        auto* widget = new T(m_window.get());
        widget->setObjectName(QString::fromUtf8(name));
        return widget;
    }
    template <typename T> T* Control(const char* name) const {
        return m_window->findChild<T*>(QString::fromUtf8(name));
    }

    std::unique_ptr<QWidget> m_window;
};

} // namespace

TEST_F(UiServicesTest, OnlyTheRegisteredPropertiesAreServed) {
    SetProperty(kBox, Property::Content, "new");
    EXPECT_EQ(Control<QPlainTextEdit>(kBox)->toPlainText(), QStringLiteral("new"));
    EXPECT_EQ(GetTextProperty(kBox, Property::Content), "") << "registered write-only";
    Control<QCheckBox>(kCheck)->setChecked(true);
    EXPECT_TRUE(GetTruthProperty(kCheck, Property::Checked));
    SetProperty(kCheck, Property::Checked, false);
    EXPECT_TRUE(Control<QCheckBox>(kCheck)->isChecked()) << "registered read-only";
    SetProperty(kWindow, Property::Width, std::int32_t{800});
    EXPECT_EQ(m_window->width(), 800);
    EXPECT_EQ(m_window->height(), 400);

    // Texts read back exactly as set; a caption shows each line break as a space, and shows
    // as plain text.
    auto* caption = Control<QLabel>(kCaption);
    const struct {
        const char* control;
        Property property;
        Text text;
        QString shown; // captions only
    } texts[] = {
        {kLine, Property::Content, "两行\n文本", {}},
        {kLine, Property::Content, Text(30000, 'x') + "尾", {}},
        {kCaption, Property::Caption, "正在解析：链接：a\r\n提取码：b\nc\rd",
         QStringLiteral("正在解析：链接：a 提取码：b c d")},
        {kCaption, Property::Caption, "<b>不是格式</b>\u2028e",
         QStringLiteral("<b>不是格式</b> e")},
    };
    for (const auto& t : texts) {
        SetProperty(t.control, t.property, t.text);
        EXPECT_EQ(GetTextProperty(t.control, t.property), t.text) << t.control;
        if (!t.shown.isEmpty()) {
            EXPECT_EQ(caption->text(), t.shown);
            EXPECT_EQ(caption->textFormat(), Qt::PlainText) << "whatever the label was";
        }
    }

    // A multi-line box shows a very long line in pieces, keeping every character.
    const Text longLine = Text(65536, 'a') + "中" + Text(70000, 'b') + "\n" + Text(65536, 'c');
    SetProperty(kBox, Property::Content, longLine);
    const QString shown = Control<QPlainTextEdit>(kBox)->toPlainText();
    EXPECT_EQ(shown.count(QLatin1Char('\n')), 3);
    EXPECT_TRUE(shown.startsWith(QString(65536, QLatin1Char('a')) + QStringLiteral("\n中")));
    EXPECT_EQ(QString(shown).remove(QLatin1Char('\n')).toStdString(),
              Text(65536, 'a') + "中" + Text(70000, 'b') + Text(65536, 'c'));

    // The program's own names mean nothing here, and a window that registers no properties
    // is served none.
    SetProperty("状态", Property::Caption, "x");
    EXPECT_EQ(GetIntegerProperty("文件列表框", Property::SelectedRow), -1);
    RegisterMainWindow(m_window.get(), {});
    SetProperty(kLine, Property::Content, "refused");
    EXPECT_EQ(Control<QLineEdit>(kLine)->text().size(), 30001);
    EXPECT_EQ(GetTextProperty(kCaption, Property::Caption), "");
}

TEST_F(UiServicesTest, SelectedRowIsMinusOneWithoutASelection) {
    EXPECT_EQ(GetIntegerProperty(kList, Property::SelectedRow), -1);
    for (int i = 0; i < 3; ++i) {
        InsertRow(kList);
    }
    auto* list = Control<QTreeWidget>(kList);
    list->setCurrentItem(list->topLevelItem(2));
    EXPECT_EQ(GetIntegerProperty(kList, Property::SelectedRow), 2);
    DeleteAllRows(kList);
    EXPECT_EQ(RowCount(kList), 0);
    EXPECT_EQ(GetIntegerProperty(kList, Property::SelectedRow), -1);
}

TEST_F(UiServicesTest, InsertRowPlacesRowsAndCellsReadBack) {
    const struct {
        int position;
        const char* caption;
        int expectedIndex;
    } inserts[] = {{-1, "a", 0}, {-1, "b", 1}, {-5, "c", 2}, {0, "first", 0}, {99, "last", 4}};
    for (const auto& insert : inserts) {
        EXPECT_EQ(InsertRow(kList, insert.position, insert.caption), insert.expectedIndex)
            << insert.caption;
    }
    const char* order[] = {"first", "a", "b", "c", "last"};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(GetCellText(kList, row), order[row]);
        EXPECT_EQ(GetCellText(kList, row, 1), "") << "other columns start empty";
    }

    const Text handle = "123456789";
    const Text longText(3000, 'x');
    SetCellText(kList, 1, 6, handle);
    SetCellText(kList, 1, 4, longText);
    SetCellText(kList, 1, 7, "no such column");
    SetCellText(kList, 9, 0, "no such row");
    SetCellText(kList, -1, 0, "no such row");
    EXPECT_EQ(GetCellText(kList, 1, 6), handle);
    EXPECT_EQ(GetCellText(kList, 1, 4), longText);
    EXPECT_EQ(GetCellText(kList, 1, 7), "");
    EXPECT_EQ(GetCellText(kList, 9, 0), "");
    EXPECT_EQ(GetCellText(kList, -1, 0), "");
    EXPECT_EQ(RowCount(kList), 5);
    EXPECT_EQ(InsertRow("不存在的列表"), -1);

    // A cell's tooltip is its whole text, or one of its own until its text is next set; the
    // view asks its model, as a hover does.
    const auto tip = [this](int row, int column, int role = Qt::ToolTipRole) {
        auto* view = Control<QTreeWidget>(kList);
        return FromQString(view->model()->data(view->model()->index(row, column), role).toString());
    };
    EXPECT_EQ(tip(1, 4), longText);
    EXPECT_EQ(tip(1, 5), "");
    SetCellTextWithToolTip(kList, 1, 5, "下载失败", "下载失败：磁盘已满或无法写入");
    EXPECT_EQ(GetCellText(kList, 1, 5), "下载失败");
    EXPECT_EQ(GetCellToolTip(kList, 1, 5), "下载失败：磁盘已满或无法写入");
    EXPECT_EQ(tip(1, 5, Qt::AccessibleDescriptionRole), "下载失败：磁盘已满或无法写入");
    EXPECT_EQ(tip(1, 4, Qt::AccessibleDescriptionRole), "") << "no description of its own";
    SetCellText(kList, 1, 5, "正在下载");
    EXPECT_EQ(tip(1, 5), "正在下载");
    EXPECT_EQ(tip(1, 5, Qt::AccessibleDescriptionRole), "");

    // Rows appended at once are the rows the calls one at a time make, check boxes included.
    auto* list = Control<QTreeWidget>(kList);
    list->setProperty(kRowCheckBoxesProperty, true);
    const int inserted = InsertRow(kList, -1, "one");
    SetCellText(kList, inserted, 1, "two");
    EXPECT_EQ(AppendRows(kList, {{"one", "two"}, {}, {"0", "1", "2", "3", "4", "5", "6", "7"}}),
              inserted + 1);
    ASSERT_EQ(RowCount(kList), inserted + 4);
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(GetCellText(kList, inserted + 1, column), GetCellText(kList, inserted, column));
        EXPECT_EQ(GetCellText(kList, inserted + 2, column), "");
        EXPECT_EQ(GetCellText(kList, inserted + 3, column), std::to_string(column));
        EXPECT_EQ(GetCellToolTip(kList, inserted + 3, column), std::to_string(column));
    }
    for (int row = inserted; row < inserted + 4; ++row) {
        EXPECT_EQ(list->topLevelItem(row)->checkState(0), Qt::Unchecked) << row;
    }
    EXPECT_EQ(AppendRows("不存在的列表", {{"x"}}), -1);
}

TEST_F(UiServicesTest, TimerIntervalRules) {
    auto* timer = Control<QTimer>(kTimer);
    int ticks = 0;
    QObject::connect(timer, &QTimer::timeout, timer, [&ticks] { ++ticks; });

    SetProperty(kTimer, Property::Interval, std::int32_t{300});
    ASSERT_TRUE(timer->isActive());
    LetTimePass(std::chrono::milliseconds(200), PumpEvents); // part of the period runs out
    const int left = timer->remainingTime();
    // The same value again must not restart the period that is running.
    SetProperty(kTimer, Property::Interval, std::int32_t{300});
    EXPECT_LE(timer->remainingTime(), left);
    EXPECT_TRUE(WaitFor([&] { return ticks > 0; }, std::chrono::seconds(2), PumpEvents));

    SetProperty(kTimer, Property::Interval, std::int32_t{500});
    EXPECT_EQ(timer->interval(), 500);
    EXPECT_GT(timer->remainingTime(), 300) << "a new value restarts the period";

    for (std::int32_t stop : {0, -20}) {
        SetProperty(kTimer, Property::Interval, std::int32_t{400});
        SetProperty(kTimer, Property::Interval, stop);
        EXPECT_FALSE(timer->isActive()) << stop;
    }
    const int before = ticks;
    LetTimePass(std::chrono::milliseconds(700), PumpEvents); // longer than the last period
    EXPECT_EQ(ticks, before) << "a stopped timer ticks no more";
}

TEST_F(UiServicesTest, WorkerThreadWritesCellsThroughTheUiThread) {
    constexpr int kRows = 40;
    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0};
    std::thread worker([&] {
        for (int i = 0; i < kRows; ++i) {
            const int row = InsertRow(kList, -1, "task" + std::to_string(i));
            for (int column = 1; column < 7; ++column) {
                const Text text = std::to_string(i) + ":" + std::to_string(column);
                SetCellText(kList, row, column, text);
                if (GetCellText(kList, row, column) != text) {
                    ++mismatches;
                }
            }
            SetProperty(kCaption, Property::Caption, "row " + std::to_string(i));
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
    EXPECT_EQ(RowCount(kList), kRows);
    EXPECT_EQ(GetCellText(kList, kRows - 1, 6), std::to_string(kRows - 1) + ":6");
    EXPECT_EQ(RowCount(kLog), kRows);
    EXPECT_EQ(GetTextProperty(kCaption, Property::Caption), "row " + std::to_string(kRows - 1));
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

TEST_F(UiServicesTest, AppendLogAddsAStampedRowToTheRegisteredLog) {
    AppendLog("第一行", true);
    AppendLog("第二行", false);
    ASSERT_EQ(RowCount(kLog), 2);
    const Text first = GetCellText(kLog, 0);
    ASSERT_EQ(first.size(), Text("{ 00:00:00 } 第一行").size());
    EXPECT_TRUE(first.starts_with("{ ") && first.substr(4, 1) == ":" &&
                first.ends_with(" } 第一行"))
        << first;
    EXPECT_EQ(GetCellText(kLog, 1), "第二行");

    RegisterMainWindow(m_window.get(), {});
    AppendLog("无处可写", true);
    EXPECT_EQ(RowCount(kLog), 2) << "a window without a work log gets no rows";
    EXPECT_EQ(RowCount(kList), 0);
}

TEST_F(UiServicesTest, TimedMessageClosesItselfOrAnswersTheButton) {
    EXPECT_EQ(ShowTimedMessage("自动关闭", 0, std::nullopt, nullptr, 150), kMessageTimedOut - 1);

    QString title;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, &clicker, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            box->button(QMessageBox::No)->click();
        }
    });
    clicker.start(20);
    EXPECT_EQ(ShowTimedMessage("要继续吗", 4, std::nullopt, nullptr, 5000), 6); // No = 7
    EXPECT_EQ(title, QStringLiteral("友情提醒"));
}

TEST_F(UiServicesTest, FindProcessWindowFiltersTheProgramsWindows) {
    const struct {
        const char* title;
        const char* className;
        bool found;
    } cases[] = {
        {"", "", true},         {"测试", "", true},   {"", "QWidget", true},
        {"v2", "Widget", true}, {"Other", "", false}, {"测试", "QDialog", false},
    };
    for (const auto& c : cases) {
        QWidget* found = FindProcessWindow(getpid(), c.title, c.className, 500);
        EXPECT_EQ(found, c.found ? m_window.get() : nullptr) << c.title << " " << c.className;
    }
    EXPECT_EQ(FindProcessWindow(getpid() + 1, {}, {}, std::nullopt), nullptr)
        << "another process has no windows here, and the default limit must not be waited";
}

// A window-only function called from a worker thread ends a debug build at once, naming the
// function, instead of touching widgets from the wrong thread.
TEST_F(UiServicesTest, WindowOnlyFunctionsRefuseOtherThreads) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([] { FindControl(kLine); }).join(),
                 "FindControl.* must run on the UI thread");
    EXPECT_DEATH(std::thread([] { RunWhileWindowPaints([] {}); }).join(),
                 "RunWhileWindowPaints.* must run on the UI thread");
}
