// The real main window on the offscreen platform: its state after start-up, the clipboard
// watch, the record restore, the hidden buttons, the copy-link command and the menus.

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextLayout>
#include <QTranslator>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "app/application.h"
#include "app/window_texts.h"
#include "download/task_list.h"
#include "runtime/control_names.h"
#include "runtime/files.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/qt_translations.h"
#include "runtime/ui/timed_message.h"
#include "runtime/ui/work_log.h"
#include "share/file_list.h"
#include "window_fixture.h"

using namespace pandrel;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct ControlDesign {
    const char* name;
    const char* className;
    QRect geometry; // in the template's coordinates: tab-control ones for page controls
    bool onPage;
    bool visible;
    const char* text;
};

// The template's design, with page controls given in tab-control coordinates.
const ControlDesign kDesign[] = {
    {"文件夹", "QTabWidget", {0, 0, 944, 424}, false, true, nullptr},
    {"状态", "QLabel", {5, 424, 720, 24}, false, true, nullptr},
    {"编辑框1", "QLineEdit", {8, 32, 560, 40}, true, true, nullptr},
    {"选择框1", "QCheckBox", {568, 32, 80, 40}, true, true, "剪贴板监听"},
    {"解析", "QPushButton", {656, 32, 64, 40}, true, true, "解析"},
    {"文件列表框", "QTreeWidget", {8, 80, 712, 336}, true, true, nullptr},
    {"编辑框2", "QPlainTextEdit", {728, 288, 208, 120}, true, true, "123456"},
    {"加入下载列表", "QPushButton", {728, 176, 104, 32}, true, false, "加入下载列表"},
    {"按钮3", "QPushButton", {736, 32, 56, 48}, true, false, "写文件"},
    {"按钮4", "QPushButton", {728, 88, 72, 48}, true, false, "读文件"},
    {"按钮5", "QPushButton", {728, 136, 72, 32}, true, false, "置列表"},
    {"列表框_任务信息", "QTreeWidget", {5, 24, 715, 400}, true, true, nullptr},
    {"列表框_工作日志", "QTreeWidget", {3, 344, 765, 77}, true, false, nullptr},
    {"按钮_开始下载", "QPushButton", {840, 32, 88, 25}, true, true, "开始下载"},
    {"编辑框3", "QPlainTextEdit", {824, 200, 104, 120}, true, true, ""},
    {"标签1", "QLabel", {80, 112, 496, 248}, true, true, nullptr},
    {"标签2", "QLabel", {7, 22, 784, 394}, true, true, ""},
};

// Page controls sit below the template's 22-pixel tab strip.
constexpr int kTabStrip = 22;

QString TextOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
        return box->toPlainText();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    return {};
}

} // namespace

TEST_F(WindowTest, EveryControlHasItsDesignAfterStartUp) {
    StartWindow();
    EXPECT_EQ(m_window->objectName(), QStringLiteral("主窗口"));
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Pandrel  v1.3"));
    // The client area: 730 wide after start-up, and it ends where the status line ends, with
    // no blank band below it.
    EXPECT_EQ(m_window->rect().size(), QSize(730, 448));
    const QRect status = Control<QWidget>("状态")->geometry();
    EXPECT_EQ(status.bottom() + 1, m_window->rect().height());
    EXPECT_EQ(m_window->minimumSize(), m_window->maximumSize()) << "the border is fixed";
    EXPECT_FALSE(m_window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(m_window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(m_window->windowIcon().availableSizes().isEmpty());

    for (const ControlDesign& design : kDesign) {
        SCOPED_TRACE(design.name);
        auto* widget = Control<QWidget>(design.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), design.className);
        const QRect expected =
            design.onPage ? design.geometry.translated(0, -kTabStrip) : design.geometry;
        EXPECT_EQ(widget->geometry(), expected);
        EXPECT_EQ(!widget->isHidden(), design.visible);
        if (design.text != nullptr) {
            EXPECT_EQ(TextOf(widget), QString::fromUtf8(design.text));
        }
        // Everything designed at x >= 728 is out of view once the window is narrowed.
        if (design.onPage && design.geometry.x() >= 728) {
            EXPECT_GE(widget->mapTo(m_window.get(), QPoint(0, 0)).x(), m_window->width());
        }
    }

    auto* pages = Control<QTabWidget>("文件夹");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_EQ(pages->tabText(0), QStringLiteral("解析程序"));
    EXPECT_EQ(pages->tabText(1), QStringLiteral("下载程序"));
    EXPECT_EQ(pages->tabText(2), QStringLiteral("关于"));

    EXPECT_EQ(Control<QLineEdit>("编辑框1")->text().toStdString(), FormatHint("pan.example.com"));
    EXPECT_FALSE(Control<QCheckBox>("选择框1")->isChecked());
    EXPECT_FALSE(Control<QTimer>("时钟1")->isActive());
    const QString about = Control<QLabel>("标签1")->text();
    EXPECT_TRUE(about.contains(QString::fromUtf8(kFormatWarning)));
    EXPECT_TRUE(about.contains(QStringLiteral("http://127.0.0.1:8580/forum")));
    EXPECT_FALSE(about.contains(QLatin1Char('{'))) << "placeholders left in the about text";
}

// Centred on the whole screen at the design's size, and kept inside the available area.
TEST(WindowPlacementTest, CentredAndInsideTheAvailableArea) {
    const struct {
        const char* label;
        QRect screen;
        QRect available;
        QPoint topLeft;
    } cases[] = {
        {"full HD, panel at the bottom", {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {480, 298}},
        {"second screen", {1920, 0, 1280, 1024}, {1920, 0, 1280, 1024}, {2080, 270}},
        {"panel where the centred window would reach",
         {0, 0, 1024, 600},
         {0, 0, 1024, 520},
         {32, 37}},
        {"a dock on the left", {0, 0, 1000, 800}, {100, 0, 900, 800}, {100, 158}},
        // 1366 x 768 at a scale factor of 2, a panel at the top: smaller than the design.
        {"small screen at scale 2", {0, 0, 683, 384}, {0, 28, 683, 356}, {0, 28}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MainWindow::Placement(c.screen, c.available), c.topLeft) << c.label;
    }
}

TEST_F(WindowTest, ListsHaveTheirColumnsAndMenusTheirItems) {
    StartWindow();
    const struct {
        const char* list;
        std::vector<std::pair<const char*, int>> columns;
        bool checkBoxes;
    } lists[] = {
        {"文件列表框",
         {{"序号", 50}, {"文件名称", 100}, {"文件大小", 60}, {"链接地址", 500}},
         true},
        {"列表框_任务信息",
         {{"文件名称", 200},
          {"文件大小", 80},
          {"下载进度", 100},
          {"网络速度", 100},
          {"已经下载", 150},
          {"状态", 80},
          {"句柄编号", 80}},
         false},
        {"列表框_工作日志", {{"下载日志", 690}}, false},
    };
    for (const auto& expected : lists) {
        SCOPED_TRACE(expected.list);
        auto* list = Control<QTreeWidget>(expected.list);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->columnCount(), static_cast<int>(expected.columns.size()));
        for (int column = 0; column < list->columnCount(); ++column) {
            EXPECT_EQ(list->headerItem()->text(column),
                      QString::fromUtf8(expected.columns[column].first));
            EXPECT_EQ(list->columnWidth(column), expected.columns[column].second);
        }
        EXPECT_FALSE(list->rootIsDecorated());
        EXPECT_FALSE(list->header()->isHidden());
        EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
        EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(list->topLevelItemCount(), 0);
        const int row = InsertRow(expected.list);
        EXPECT_EQ(list->topLevelItem(row)->data(0, Qt::CheckStateRole).isValid(),
                  expected.checkBoxes);
    }

    const struct {
        const char* menu;
        QStringList items;
    } menus[] = {
        // The described two first, then the batch items after them.
        {"菜单",
         {QStringLiteral("下载该文件"), QStringLiteral("复制下载链接"),
          QStringLiteral("下载勾选的文件"), QStringLiteral("全部勾选")}},
        {"菜单2",
         {QStringLiteral("暂停此任务"), QStringLiteral("开始此任务"),
          QStringLiteral("删除此任务")}},
        {"菜单3", {QStringLiteral("打开论坛地址"), QStringLiteral("检测解析链接")}},
    };
    for (const auto& expected : menus) {
        auto* menu = Control<QMenu>(expected.menu);
        ASSERT_NE(menu, nullptr) << expected.menu;
        QStringList items;
        for (QAction* action : menu->actions()) {
            items << action->text();
            EXPECT_TRUE(action->isEnabled() && action->isVisible() && !action->isChecked());
        }
        EXPECT_EQ(items, expected.items);
        EXPECT_FALSE(menu->isVisible());
    }
}

// Empty boxes instead of Chinese captions mean no CJK font is installed.
TEST_F(WindowTest, ChineseCaptionsHaveGlyphs) {
    StartWindow();
    for (const char* name : {"选择框1", "解析", "状态"}) {
        auto* widget = Control<QWidget>(name);
        QTextLayout layout(TextOf(widget).isEmpty() ? QStringLiteral("已读取上次记录")
                                                    : TextOf(widget),
                           widget->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns()) {
            for (quint32 glyph : run.glyphIndexes()) {
                EXPECT_NE(glyph, 0u) << name << ": a character without a glyph";
            }
        }
    }
}

// Qt's own texts read in Chinese once the program is up: the edit box's menu and the message
// box's button. Without the catalogue they stay English and the rest carries on.
TEST_F(WindowTest, QtsOwnMenusAndButtonsAreChinese) {
    const auto qtTexts = [] {
        QLineEdit box;
        std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
        QStringList texts;
        for (QAction* action : menu->actions()) {
            texts << action->text();
        }
        QMessageBox message;
        message.setStandardButtons(QMessageBox::Ok);
        texts << message.button(QMessageBox::Ok)->text();
        return texts.join(QLatin1Char('|')).toStdString();
    };
    // What an earlier test installed goes first.
    qDeleteAll(qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly));
    EXPECT_FALSE(LoadQtChineseTranslations(QString::fromStdString(Dir())));
    const std::string english = qtTexts();
    EXPECT_TRUE(english.find("Paste") != std::string::npos && english.ends_with("|OK")) << english;

    Application program(Dir());
    const std::string chinese = qtTexts();
    EXPECT_TRUE(chinese.find("粘贴") != std::string::npos && chinese.ends_with("|确定")) << chinese;
    EXPECT_TRUE(LoadQtChineseTranslations()) << "called again";
    EXPECT_EQ(qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly).size(), 1);
}

TEST_F(WindowTest, ClipboardWatchCopiesShareTextOnlyWhileChecked) {
    StartWindow();
    auto* watch = Control<QCheckBox>("选择框1");
    auto* input = Control<QLineEdit>("编辑框1");
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString share = QStringLiteral("链接：https://pan.example.com/s/AbCd \n提取码：1234");

    // The watch looks at the clipboard on each tick of 时钟1. The count is queued, so that it
    // counts a look only once the watch's own handler has run.
    int looks = 0;
    QObject counter; // ends the connection with the test
    QObject::connect(
        Control<QTimer>("时钟1"), &QTimer::timeout, &counter, [&looks] { ++looks; },
        Qt::QueuedConnection);
    const auto lookAgain = [&looks] {
        PumpEvents(); // a look counted late belongs to the time before
        const int seen = looks;
        return WaitFor([&] { return looks > seen; }, std::chrono::seconds(3), PumpEvents);
    };
    watch->click();
    EXPECT_TRUE(Control<QTimer>("时钟1")->isActive());
    EXPECT_EQ(Control<QTimer>("时钟1")->interval(), 1000);

    clipboard->setText(QStringLiteral("链接 without the code word"));
    clipboard->setText(share);
    EXPECT_TRUE(
        WaitFor([&] { return input->text() == share; }, std::chrono::seconds(3), PumpEvents));

    // An edit to the box stays while the clipboard holds the same text, also when that text
    // is copied again; new share text replaces it within a second.
    input->setText(QStringLiteral("链接：https://pan.example.com/s/AbCd \n提取码：12"));
    const QString edited = input->text();
    clipboard->setText(share);
    ASSERT_TRUE(lookAgain());
    EXPECT_EQ(input->text(), edited);
    const QString next = QStringLiteral("链接：https://pan.example.com/s/EfGh \n提取码：5678");
    clipboard->setText(next);
    EXPECT_TRUE(
        WaitFor([&] { return input->text() == next; }, std::chrono::seconds(3), PumpEvents));

    // Text lacking either word is ignored.
    for (const QString& other : {QStringLiteral("链接 only"), QStringLiteral("提取码 only")}) {
        clipboard->setText(other);
        ASSERT_TRUE(lookAgain());
        EXPECT_EQ(input->text(), next);
    }

    watch->click();
    EXPECT_FALSE(Control<QTimer>("时钟1")->isActive());
    const QString later = QStringLiteral("链接：https://pan.example.com/s/Zz \n提取码：9999");
    clipboard->setText(later);
    // With its timer stopped the watch has no look to wait for: a span longer than a tick
    // without a change is the proof.
    LetTimePass(std::chrono::milliseconds(1500), PumpEvents);
    EXPECT_EQ(input->text(), next);
}

// Tab runs through the controls in view and never into one out of view; Enter in the input box
// runs 解析; focus into the box while it holds the hint selects the hint, so a paste replaces it.
TEST_F(WindowTest, KeyboardReachesWhatIsInViewAndPasteReplacesTheHint) {
    StartWindow();
    auto* input = Control<QLineEdit>("编辑框1");
    const QString hint = input->text();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));

    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(40, 20));
    PumpEvents();
    EXPECT_EQ(input->selectedText(), hint) << "the first click selects the hint";
    const QString share = QStringLiteral("链接：https://pan.example.com/s/AbCd \n提取码：1234");
    QGuiApplication::clipboard()->setText(share);
    input->paste();
    EXPECT_EQ(input->text(), share);

    QStringList reached;
    for (int i = 0; i < 5 && QApplication::focusWidget() != nullptr; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(reached,
              (QStringList{QStringLiteral("选择框1"), QStringLiteral("解析"),
                           QStringLiteral("文件列表框"), QStringLiteral("qt_tabwidget_tabbar"),
                           QStringLiteral("编辑框1")}));
    for (const char* name :
         {"编辑框2", "编辑框3", "按钮_开始下载", "加入下载列表", "按钮3", "按钮4", "按钮5"}) {
        EXPECT_EQ(Control<QWidget>(name)->focusPolicy(), Qt::NoFocus) << name;
    }
    // Once edited, a click places the cursor as usual.
    QTest::mouseClick(Control<QWidget>("文件列表框"), Qt::LeftButton);
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(40, 20));
    PumpEvents();
    EXPECT_TRUE(input->selectedText().isEmpty());

    input->setText(QStringLiteral("没有分享链接"));
    QTest::keyClick(input, Qt::Key_Return);
    EXPECT_EQ(Control<QLabel>("状态")->text(),
              QStringLiteral("解析失败：未识别到分享链接和提取码"));
}

// A screen reader hears the controls by Chinese names with descriptions, and hears nothing
// out of view as showing.
TEST_F(WindowTest, ScreenReadersHearChineseNamesAndNothingOutOfView) {
    StartWindow();
    SetProperty(kStatusLine, Property::Caption, "已复制!");
    const struct {
        const char* control;
        QString name;
        bool showing; // on the page in view
    } named[] = {
        {"编辑框1", QStringLiteral("分享链接和提取码"), true},
        {"选择框1", QStringLiteral("剪贴板监听"), true},
        {"文件列表框", QStringLiteral("文件列表"), true},
        {"列表框_任务信息", QStringLiteral("下载任务列表"), false},
        {"状态", QStringLiteral("状态：已复制!"), true},
    };
    for (const auto& c : named) {
        SCOPED_TRACE(c.control);
        QAccessibleInterface* control =
            QAccessible::queryAccessibleInterface(Control<QWidget>(c.control));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->text(QAccessible::Name), c.name);
        EXPECT_FALSE(control->text(QAccessible::Description).isEmpty());
        EXPECT_EQ(!control->state().invisible && !control->state().offscreen, c.showing);
    }
    for (const char* name : {"编辑框2", "编辑框3", "按钮_开始下载"}) {
        QAccessibleInterface* control =
            QAccessible::queryAccessibleInterface(Control<QWidget>(name));
        ASSERT_NE(control, nullptr) << name;
        EXPECT_TRUE(control->state().offscreen) << name;
        EXPECT_EQ(control->childCount(), 0) << name;
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Control<QWidget>("编辑框2"))
                  ->text(QAccessible::Value),
              QStringLiteral("123456"));

    // At the design width, before start-up narrows it, the same box is in view.
    MainWindow wide(m_state);
    wide.show();
    PumpEvents();
    auto* box = wide.findChild<QWidget*>(QStringLiteral("编辑框2"));
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(box)->state().offscreen);
}

TEST_F(WindowTest, TypedChineseIsWhatTheContentPropertyReads) {
    StartWindow();
    auto* input = Control<QLineEdit>("编辑框1");
    // The second paste is longer than Qt's default limit of 32,767 characters.
    for (const Text& typed : {Text("链接：测试"), Text(40000, 'x') + "链接：尾"}) {
        input->clear();
        input->setFocus();
        QInputMethodEvent typing;
        typing.setCommitString(QString::fromStdString(typed));
        QApplication::sendEvent(input, &typing);
        EXPECT_EQ(GetTextProperty("编辑框1", Property::Content), typed) << typed.size();
    }
}

TEST_F(WindowTest, StartUpRestoresTheRecordUnlessMarked) {
    // 2,000,000 empty rows: 18 MB, past both of the listing's limits.
    Text hostile;
    for (int i = 0; i < 2000000; ++i) {
        hostile += "<tr></tr>";
    }
    const struct {
        const char* label;
        bool markerFile;
        bool markerFolder;
        Text record;
        int rows;
        bool restored;
    } cases[] = {
        {"no marker", false, false, SampleListing(2), 2, true},
        {"marker file", true, false, SampleListing(2), 0, false},
        {"marker folder", false, true, SampleListing(2), 0, false},
        {"record past the listing's limits", false, false, hostile, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(PathOf("test"));
        WriteText(PathOf("test.txt"), c.record);
        if (c.markerFile) {
            WriteText(PathOf("test"), "");
        }
        if (c.markerFolder) {
            std::filesystem::create_directory(PathOf("test"));
        }
        m_state.RecordText.clear();
        m_state.RecordRowCount = 0;
        StartWindow();
        EXPECT_TRUE(IsDirectory(Dir() + "/下载目录"));
        EXPECT_EQ(m_state.WorkDir, Dir() + "/下载目录/");
        EXPECT_EQ(RowCount("文件列表框"), c.rows);
        EXPECT_EQ(m_state.RecordRowCount, c.rows);
        EXPECT_EQ(Control<QLabel>("状态")->text().toStdString(),
                  c.restored ? Text("已读取上次记录") : Text(kFormatWarning));
        EXPECT_EQ(std::filesystem::file_size(PathOf("test.txt")), c.record.size())
            << "the record file is never changed by a restore";
        if (c.rows == 2) {
            EXPECT_EQ(GetCellText("文件列表框", 1, 0), "2");
            EXPECT_EQ(GetCellText("文件列表框", 1, 1), "file2.bin");
            EXPECT_EQ(GetCellText("文件列表框", 1, 3), "http://127.0.0.1:8580/f/2");
        }
        m_window.reset();
    }
}

TEST_F(WindowTest, MissingRecordStillReportsTheRestore) {
    StartWindow();
    EXPECT_EQ(RowCount("文件列表框"), 0);
    EXPECT_EQ(Control<QLabel>("状态")->text(), QStringLiteral("已读取上次记录"));
}

namespace {

// An engine that never comes up: it takes its host folder, and Init refuses.
class RefusingEngine : public EngineApi {
public:
    std::int32_t SetHostFolder(const Text&) override { return 1; }
    std::int32_t Init() override { return 0; }
    std::int32_t CreateTask(const void*) override { return 0; }
    std::int32_t StartTask(std::int32_t) override { return 0; }
    std::int32_t QueryTaskInfoEx(std::int32_t, void*) override { return 0; }
    std::int32_t StopTask(std::int32_t) override { return 0; }
    std::int32_t DeleteTask(std::int32_t) override { return 0; }
};

} // namespace

// A failing step ends start-up with its line in the work log and in 状态, where it is seen.
TEST_F(WindowTest, StartUpFailuresShowInTheStatusLine) {
    RefusingEngine engine;
    DownloadManager downloads(engine);
    StartupSteps engineSteps = EngineStartupSteps(engine, downloads);
    engineSteps.leftoverProcessName = TestStartupSteps().leftoverProcessName;
    const struct {
        const char* label;
        const char* blocker; // a file where start-up wants a folder
        bool withEngine;
        const char* status;
        const char* lastLogLine;
    } cases[] = {
        {"work folder is a file", "下载目录", false, "创建程序工作目录失败",
         "创建程序工作目录失败"},
        {"engine folder is a file", "DownLoad", true, "创建程序下载引擎目录失败",
         "创建程序下载引擎目录失败"},
        {"engine does not start", nullptr, true, "启动程序下载引擎失败",
         "释放程序下载引擎文件完成"},
    };
    WriteText(PathOf("test.txt"), SampleListing(1));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(PathOf("下载目录"));
        std::filesystem::remove_all(PathOf("DownLoad"));
        if (c.blocker != nullptr) {
            WriteText(PathOf(c.blocker), "a file where the folder should be");
        }
        StartWindow(c.withEngine ? engineSteps : TestStartupSteps());
        EXPECT_EQ(RowCount("文件列表框"), 0);
        ASSERT_EQ(RowCount("列表框_工作日志"), 1);
        EXPECT_TRUE(GetCellText("列表框_工作日志", 0).ends_with(Text("} ") + c.lastLogLine));
        EXPECT_EQ(Control<QLabel>("状态")->text().toStdString(), c.status);
        m_window.reset();
    }
}

TEST_F(WindowTest, HiddenButtonsSaveLoadAndFill) {
    WriteText(PathOf("test"), "");
    StartWindow();
    m_state.RecordText = SampleListing(2);
    Control<QPushButton>("按钮3")->click();
    EXPECT_EQ(ReadFile(PathOf("test.txt")),
              Bytes(m_state.RecordText.begin(), m_state.RecordText.end()));

    WriteText(PathOf("test.txt"), SampleListing(3));
    Control<QPushButton>("按钮4")->click();
    EXPECT_EQ(m_state.RecordRowCount, 3);
    EXPECT_EQ(RowCount("文件列表框"), 0) << "reading the file changes nothing on screen";
    EXPECT_EQ(Control<QLabel>("状态")->text().toStdString(), kFormatWarning);

    Control<QPushButton>("按钮5")->click();
    Control<QPushButton>("按钮5")->click();
    EXPECT_EQ(RowCount("文件列表框"), 6) << "the fill appends without clearing";
}

TEST_F(WindowTest, CopyLinkNeedsASelectedRowThatNamesAPiece) {
    WriteText(PathOf("test.txt"), SampleListing(3));
    StartWindow();
    auto* list = Control<QTreeWidget>("文件列表框");
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("untouched"));

    {
        MessageBoxCloser closer;
        Control<QMenu>("菜单")->actions()[1]->trigger(); // 复制下载链接, no row selected
        LetTimePass(std::chrono::milliseconds(100), PumpEvents); // no message box comes
        EXPECT_TRUE(closer.seen.isEmpty());
        EXPECT_EQ(clipboard->text(), QStringLiteral("untouched"));
    }

    list->setCurrentItem(list->topLevelItem(1));
    {
        MessageBoxCloser closer;
        Control<QMenu>("菜单")->actions()[1]->trigger();
        EXPECT_TRUE(
            WaitFor([&] { return !closer.seen.isEmpty(); }, std::chrono::seconds(3), PumpEvents));
        EXPECT_EQ(closer.seen.value(0), QStringLiteral("友情提醒|已复制"));
    }
    EXPECT_EQ(clipboard->text(), QStringLiteral("http://127.0.0.1:8580/f/2"));
    EXPECT_EQ(Control<QLabel>("状态")->text(), QStringLiteral("已复制!"));
    const CurrentFile file = m_state.Snapshot();
    EXPECT_EQ(file.CurrentFileNumber, 2);
    EXPECT_EQ(file.CurrentFileName, "file2.bin");
    EXPECT_EQ(file.CurrentFileSize, "2 KB");
    EXPECT_EQ(file.CurrentFileUrl, "http://127.0.0.1:8580/f/2");

    // A listing shorter than the list (the record changed since the fill): the number names
    // no piece, and the command leaves everything as it was.
    m_state.RecordText = SampleListing(1);
    list->setCurrentItem(list->topLevelItem(2));
    clipboard->setText(QStringLiteral("untouched"));
    {
        MessageBoxCloser closer;
        Control<QMenu>("菜单")->actions()[1]->trigger();
        LetTimePass(std::chrono::milliseconds(100), PumpEvents); // no message box comes
        EXPECT_TRUE(closer.seen.isEmpty());
    }
    EXPECT_EQ(clipboard->text(), QStringLiteral("untouched"));
    EXPECT_EQ(m_state.Snapshot().CurrentFileNumber, 2);
}

TEST_F(WindowTest, RightClicksPopUpTheirMenusNextToThePointer) {
    StartWindow();
    QCursor::setPos(200, 150);
    const struct {
        const char* control;
        const char* menu;
    } cases[] = {{"文件列表框", "菜单"}, {"列表框_任务信息", "菜单2"}, {"标签1", "菜单3"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        auto* menu = Control<QMenu>(c.menu);
        QPoint shownAt(-1, -1);
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, menu, [&] {
            if (menu->isVisible()) {
                shownAt = menu->pos();
                menu->close();
            }
        });
        closer.start(20);
        auto* target = Control<QWidget>(c.control);
        if (auto* list = qobject_cast<QAbstractScrollArea*>(target)) {
            // An empty list: the click lands on empty space.
            QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 200), QCursor::pos());
            QApplication::sendEvent(list->viewport(), &click);
        } else {
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10),
                              QPointF(QCursor::pos()), Qt::RightButton, Qt::RightButton,
                              Qt::NoModifier);
            QApplication::sendEvent(target, &press);
        }
        EXPECT_EQ(shownAt, QCursor::pos() + QPoint(3, 3));
    }
}

namespace {

// Pixels of the red that the hostile name's markup asks for.
int RedPixels(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
        }
    }
    return red;
}

} // namespace

// A share's names, sizes and links and the pasted text come from strangers: wherever the
// window shows them they show as the characters they are, never as markup.
TEST_F(WindowTest, OutsideTextShowsAsPlainText) {
    const Text hostile = "<font color=#ff0000 size=7>病毒警告：请立即运行 setup.sh";
    QLabel markup;
    markup.setTextFormat(Qt::RichText);
    markup.setText(QString::fromStdString(hostile));
    markup.adjustSize();
    ASSERT_GT(RedPixels(markup.grab().toImage()), 0) << "the check must see markup when shown";

    StartWindow();
    m_state.RecordText = "<tr><td>" + hostile + "</td><td>" + hostile +
                         "</td><td><a target=\"_blank\" href=\"" + hostile +
                         "\">点我下载</a></td></tr>";
    m_state.RecordRowCount = 1;
    FillFileList(m_state);
    AddTaskRow({1, hostile, hostile, hostile});
    SetCellText(kTaskList, 0, kStateColumn, hostile);
    SetProperty(kStatusLine, Property::Caption, "任务：" + hostile + " 创建成功");
    SetProperty(kShareInputBox, Property::Content, hostile);
    SetProperty(kDiagnosticBox, Property::Content, hostile);
    SetProperty(kScanReportBox, Property::Content, hostile);
    AppendLog(hostile, true);
    // Every surface, also those out of view or on the other page, drawn as it would show.
    for (const char* name : {kStatusLine, kShareInputBox, kFileList, kDiagnosticBox, kTaskList,
                             kWorkLog, kScanReportBox}) {
        EXPECT_EQ(RedPixels(Control<QWidget>(name)->grab().toImage()), 0) << name;
    }
    EXPECT_EQ(GetTextProperty(kShareInputBox, Property::Content), hostile);

    QString boxText;
    int boxRed = -1;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, &watcher, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxText = box->text();
            boxRed = RedPixels(box->grab().toImage());
            box->done(0);
        }
    });
    watcher.start(20);
    ShowTimedMessage(hostile, 0, std::nullopt, nullptr, 3000);
    EXPECT_EQ(boxText.toStdString(), hostile);
    EXPECT_EQ(boxRed, 0) << "the message box";
}
