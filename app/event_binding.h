#pragma once

#include <QWidget>

#include <vector>

#include "runtime/program_state.h"

namespace pandrel {

class DownloadManager;

// What every handler is handed: the program's values, and the engine with its download
// workers (null when there is none: the download commands then start nothing).
struct HandlerContext {
    ProgramState& state;
    DownloadManager* downloads;
};

using Handler = void (*)(const HandlerContext& context);

enum class Event {
    Clicked,            // a button or the check box was clicked
    TimerTick,          // a timer's period ran out
    RightClick,         // right click anywhere in a list, rows or empty space
    RightButtonPressed, // the right button went down over a control
    ItemSelected,       // a menu item was chosen; runs once the menu has closed
    EnterPressed,       // Enter (or Return) in a single-line edit box
};

// One line of the window's event table. `item` names the menu item for ItemSelected.
struct EventBinding {
    const char* control;
    Event event;
    const char* item;
    Handler handler;
    const char* handlerName;
};

// Every event the window handles, and the only ones; fixed for the whole run. The window's
// created event is not in it: main runs OnMainWindowCreated once the window is built.
const std::vector<EventBinding>& EventTable();

// Connects each line of the table to the controls of `window`. A line whose control cannot
// be found is reported on stderr and skipped.
void BindEvents(QWidget& window, ProgramState& state, DownloadManager* downloads);

} // namespace pandrel
