// The file list: filling it from a listing. A bare window with the two controls the fill and
// the copy-link command use stands in for the main window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTreeWidget>

#include <memory>
#include <vector>

#include "runtime/text.h"
#include "runtime/ui/control_registry.h"
#include "runtime/ui/list_view.h"
#include "share/file_list.h"

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
