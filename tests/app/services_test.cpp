// The control services as the real window registers them, the browser and the deployment
// values. The services' own rules are tested against a window of the test's own in
// tests/runtime.

#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QUrl>

#include <fstream>

#include "runtime/ui/controls.h"
#include "runtime/ui/deployment_loader.h"
#include "window_fixture.h"

using namespace pandrel;

namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

} // namespace

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
