#include "app/menu_handlers.h"

#include "runtime/control_names.h"
#include "runtime/ui/shell.h"

namespace pandrel {

void ShowFileMenu(ProgramState&) {
    PopupMenu(kFileMenu);
}

void ShowTaskMenu(ProgramState&) {
    PopupMenu(kTaskMenu);
}

void ShowAboutMenu(ProgramState&) {
    PopupMenu(kAboutMenu);
}

void OpenForumPage(ProgramState& state) {
    OpenWebAddress(state.deployment.forumPage);
}

void OpenParseServicePage(ProgramState& state) {
    OpenWebAddress(state.deployment.parseService);
}

} // namespace pandrel
