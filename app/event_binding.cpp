#include "app/event_binding.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <functional>
#include <type_traits>

#include "app/clipboard_watch.h"
#include "app/menu_handlers.h"
#include "app/record_file.h"
#include "download/download_worker.h"
#include "download/task_commands.h"
#include "download/task_list.h"
#include "runtime/control_names.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"
#include "share/file_list.h"
#include "share/parse_command.h"

namespace pandrel {
namespace {

// A command of the layers below as a handler: the download commands take the engine and its
// workers beside the program's values, the others the values alone.
template <auto Command> void Run(const HandlerContext& context) {
    if constexpr (std::is_invocable_v<decltype(Command), ProgramState&, DownloadManager*>) {
        Command(context.state, context.downloads);
    } else {
        Command(context.state);
    }
}

#define BIND(command) &Run<&command>, #command

// Runs an action when the right mouse button goes down over the watched widget; on release
// would be too late for the about label.
class RightPressFilter : public QObject {
public:
    RightPressFilter(QObject* parent, std::function<void()> action)
        : QObject(parent), m_action(std::move(action)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
            m_action();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_action;
};

// "解析" runs the share layer's parse command, which saves its listing through the shell's
// record file.
void RunParseWithRecordFile(ProgramState& state) {
    RunParse(state, ParseHooks{&SaveRecord});
}

QAction* MenuItem(QMenu* menu, const char* caption) {
    for (QAction* action : menu->actions()) {
        if (action->text() == ToQString(caption)) {
            return action;
        }
    }
    return nullptr;
}

bool Bind(QWidget& window, const HandlerContext& context, const EventBinding& line) {
    QObject* control = window.findChild<QObject*>(ToQString(line.control));
    if (control == nullptr) {
        return false;
    }
    const Handler handler = line.handler;
    auto run = [context, handler] { handler(context); };
    switch (line.event) {
    case Event::Clicked:
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            QObject::connect(button, &QAbstractButton::clicked, &window, run);
            return true;
        }
        return false;
    case Event::TimerTick:
        if (auto* timer = qobject_cast<QTimer*>(control)) {
            QObject::connect(timer, &QTimer::timeout, &window, run);
            return true;
        }
        return false;
    case Event::RightClick:
        if (auto* list = qobject_cast<QAbstractItemView*>(control)) {
            list->setContextMenuPolicy(Qt::CustomContextMenu);
            QObject::connect(list, &QWidget::customContextMenuRequested, &window, run);
            return true;
        }
        return false;
    case Event::RightButtonPressed:
        if (auto* widget = qobject_cast<QWidget*>(control)) {
            widget->installEventFilter(new RightPressFilter(widget, run));
            return true;
        }
        return false;
    case Event::EnterPressed:
        if (auto* box = qobject_cast<QLineEdit*>(control)) {
            QObject::connect(box, &QLineEdit::returnPressed, &window, run);
            return true;
        }
        return false;
    case Event::ItemSelected:
        if (auto* menu = qobject_cast<QMenu*>(control)) {
            if (QAction* action = MenuItem(menu, line.item)) {
                QObject::connect(action, &QAction::triggered, &window, run, Qt::QueuedConnection);
                return true;
            }
        }
        return false;
    }
    return false;
}

} // namespace

const std::vector<EventBinding>& EventTable() {
    static const std::vector<EventBinding> table = {
        {kParseButton, Event::Clicked, nullptr, &Run<&RunParseWithRecordFile>, "RunParse"},
        {kShareInputBox, Event::EnterPressed, nullptr, &Run<&RunParseWithRecordFile>, "RunParse"},
        {kClipboardWatchBox, Event::Clicked, nullptr, BIND(ToggleClipboardWatch)},
        {kClipboardTimer, Event::TimerTick, nullptr, BIND(WatchClipboard)},
        {kFileList, Event::RightClick, nullptr, BIND(ShowFileMenu)},
        {kTaskList, Event::RightClick, nullptr, BIND(ShowTaskMenu)},
        {kAboutLabel, Event::RightButtonPressed, nullptr, BIND(ShowAboutMenu)},
        {kFileMenu, Event::ItemSelected, "下载该文件", BIND(DownloadSelectedFile)},
        {kFileMenu, Event::ItemSelected, "复制下载链接", BIND(CopySelectedLink)},
        {kFileMenu, Event::ItemSelected, "下载勾选的文件", BIND(DownloadCheckedFiles)},
        {kFileMenu, Event::ItemSelected, "全部勾选", BIND(ToggleAllFileChecks)},
        {kTaskMenu, Event::ItemSelected, "暂停此任务", BIND(PauseSelectedTask)},
        {kTaskMenu, Event::ItemSelected, "开始此任务", BIND(StartSelectedTask)},
        {kTaskMenu, Event::ItemSelected, "删除此任务", BIND(DeleteSelectedTask)},
        {kAboutMenu, Event::ItemSelected, "打开论坛地址", BIND(OpenForumPage)},
        {kAboutMenu, Event::ItemSelected, "检测解析链接", BIND(OpenParseServicePage)},
        {kStartDownloadButton, Event::Clicked, nullptr, BIND(StartDownloadWorker)},
        {kSaveRecordButton, Event::Clicked, nullptr, BIND(SaveRecord)},
        {kLoadRecordButton, Event::Clicked, nullptr, BIND(LoadRecord)},
        {kFillListButton, Event::Clicked, nullptr, BIND(FillFileList)},
        {kSampleButton, Event::Clicked, nullptr, BIND(FetchSampleListing)},
    };
    return table;
}

void BindEvents(QWidget& window, ProgramState& state, DownloadManager* downloads) {
    AssertUiThread();
    const HandlerContext context{state, downloads};
    for (const EventBinding& line : EventTable()) {
        if (!Bind(window, context, line)) {
            qWarning("event binding failed: %s -> %s", line.control, line.handlerName);
        }
    }
}

} // namespace pandrel
