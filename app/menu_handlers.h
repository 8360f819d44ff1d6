#pragma once

#include "runtime/program_state.h"

namespace pandrel {

// Right click on 文件列表框 / 列表框_任务信息, right button down on 标签1: the matching menu
// pops up at the pointer, whether or not a row is selected.
void ShowFileMenu(ProgramState& state);
void ShowTaskMenu(ProgramState& state);
void ShowAboutMenu(ProgramState& state);

// 菜单3's items: the forum page and the parse service's home page in the user's browser.
void OpenForumPage(ProgramState& state);
void OpenParseServicePage(ProgramState& state);

} // namespace pandrel
