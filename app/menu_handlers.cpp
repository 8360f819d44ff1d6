#include "app/menu_handlers.h"

#include "runtime/control_names.h"
#include "runtime/ui/shell.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {

void ShowFileMenu(ProgramState&) {
    AssertUiThread();
    PopupMenu(kFileMenu);
}

void ShowTaskMenu(ProgramState&) {
    AssertUiThread();
    PopupMenu(kTaskMenu);
}

void ShowAboutMenu(ProgramState&) {
    AssertUiThread();
    PopupMenu(kAboutMenu);
}

void OpenForumPage(ProgramState& state) {
    AssertUiThread();
    OpenWebAddress(state.deployment.forumPage);
}

void OpenParseServicePage(ProgramState& state) {
    AssertUiThread();
    OpenWebAddress(state.deployment.parseService);
}

} // namespace pandrel
