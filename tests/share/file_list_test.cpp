// The file list: filling it from a listing, the self-closing message box and the window walk.
// A bare window with the two controls these commands use stands in for the main window.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <memory>
#include <vector>

#include "runtime/text.h"
#include "runtime/ui/control_registry.h"
#include "runtime/ui/list_view.h"
#include "share/file_list.h"
#include "support/wait_for.h"

using namespace pandrel;

namespace {

QApplication& Application() {
    static int argc = 1;
    static char name[] = "file-list-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application();
        m_window = std::make_unique<QWidget>();
        m_window->setObjectName(QStringLiteral("主窗口"));
        m_window->setWindowTitle(QStringLiteral("Pandrel  v1.3"));
        auto* list = new QTreeWidget(m_window.get());
        list->setObjectName(QStringLiteral("文件列表框"));
        list->setColumnCount(4);
        auto* status = new QLabel(m_window.get());
        status->setObjectName(QStringLiteral("状态"));
        RegisterMainWindow(m_window.get(), {});
    }
    void TearDown() override { m_window.reset(); }

    std::vector<std::vector<Text>> Rows() const {
        std::vector<std::vector<Text>> rows;
        for (int row = 0; row < RowCount("文件列表框"); ++row) {
            rows.push_back({});
            for (int column = 0; column < 4; ++column) {
                rows.back().push_back(GetCellText("文件列表框", row, column));
            }
        }
        return rows;
    }

    std::unique_ptr<QWidget> m_window;
};

Text Row(const Text& name, const Text& size, const Text& href) {
    return "<tr><td>" + name + "</td><td>" + size + "</td><td><a target=\"_blank\" href=" + href +
           ">点我下载</a></td></tr>";
}

using Table = std::vector<std::vector<Text>>;

} // namespace

TEST_F(FileListTest, FillCutsEachRowIntoItsCells) {
    const struct {
        const char* label;
        Text record;
        int rowCount; // -1: counted from the record as a load would
        Table expected;
    } cases[] = {
        {"three rows",
         "\n" + Row("a.txt", "1 KB", "\"http://h/a\"") + "\n" + Row("b c", "2 MB", "\"u2\"") +
             Row("文件.zip", "3 GB", "\"u3\""),
         -1,
         {{"1", "a.txt", "1 KB", "http://h/a"},
          {"2", "b c", "2 MB", "u2"},
          {"3", "文件.zip", "3 GB", "u3"}}},
        {"attribute after the link keeps its text less one byte",
         Row("a", "1", "\"u\" rel=\"x\""),
         -1,
         {{"1", "a", "1", "u\" rel=\"x"}}},
        {"link shorter than two bytes", Row("a", "1", "x"), -1, {{"1", "a", "1", ""}}},
        {"missing markers give empty cells", "<tr>plain</tr>", -1, {{"1", "", "", ""}}},
        {"count below the pieces shows the first ones",
         Row("a", "1", "\"u\"") + Row("b", "2", "\"v\"") + "trailing",
         1,
         {{"1", "a", "1", "u"}}},
        {"count beyond the pieces stops at the last piece",
         Row("a", "1", "\"u\"") + "<TR><td>b</td></TR><tr>",
         -1,
         {{"1", "a", "1", "u"}, {"2", "", "", ""}}},
        {"upper-case tags are one piece", "<TR><TD>x</TD></TR>", -1, {{"1", "", "", ""}}},
        {"empty record", "", 5, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        DeleteAllRows("文件列表框");
        ProgramState state;
        state.RecordText = c.record;
        state.RecordRowCount = c.rowCount >= 0 ? c.rowCount : CountOccurrences(c.record, "<tr>");
        FillFileList(state);
        EXPECT_EQ(Rows(), c.expected);
    }
}

TEST_F(FileListTest, FillAppendsToTheRowsAlreadyThere) {
    ProgramState state;
    state.RecordText = Row("a", "1", "\"u\"") + Row("b", "2", "\"v\"");
    state.RecordRowCount = 2;
    FillFileList(state);
    FillFileList(state);
    ASSERT_EQ(RowCount("文件列表框"), 4);
    EXPECT_EQ(GetCellText("文件列表框", 2, 0), "1");
    EXPECT_EQ(GetCellText("文件列表框", 3, 1), "b");
}

TEST_F(FileListTest, TimedMessageClosesItselfOrAnswersTheButton) {
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

TEST_F(FileListTest, FindProcessWindowFiltersTheProgramsWindows) {
    m_window->show();
    const struct {
        const char* title;
        const char* className;
        bool found;
    } cases[] = {
        {"", "", true},           {"Pandrel", "", true}, {"", "QWidget", true},
        {"v1.3", "Widget", true}, {"Other", "", false},  {"Pandrel", "QDialog", false},
    };
    for (const auto& c : cases) {
        QWidget* found = FindProcessWindow(getpid(), c.title, c.className, 500);
        EXPECT_EQ(found, c.found ? m_window.get() : nullptr) << c.title << " " << c.className;
    }
    EXPECT_EQ(FindProcessWindow(getpid() + 1, {}, {}, std::nullopt), nullptr)
        << "another process has no windows here, and the default limit must not be waited";
}
