#include "app/menu_handlers.h"

#include "runtime/ui/shell.h"

namespace pandrel {

void ShowFileMenu(ProgramState&) {
    PopupMenu("菜单");
}

void ShowTaskMenu(ProgramState&) {
    PopupMenu("菜单2");
}

void ShowAboutMenu(ProgramState&) {
    PopupMenu("菜单3");
}

void OpenForumPage(ProgramState& state) {
    OpenWebAddress(state.deployment.forumPage);
}

void OpenParseServicePage(ProgramState& state) {
    OpenWebAddress(state.deployment.parseService);
}

} // namespace pandrel
