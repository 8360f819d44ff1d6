#include "runtime/ui/work_log.h"

#include "runtime/clock.h"
#include "runtime/convert.h"
#include "runtime/ui/control_registry.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {

Text LogLine(const Text& message, bool stamp, int hour, int minute, int second) {
    if (!stamp || message.empty()) {
        return message;
    }
    return FormatText("{ %02d:%02d:%02d } ", hour, minute, second) + message;
}

void AppendLog(const Text& message, bool stamp) {
    const DateTime now = Now();
    const Text line = LogLine(message, stamp, HourOf(now), MinuteOf(now), SecondOf(now));
    // One hop for both steps, so rows of two threads cannot trade places between the insert
    // and the scroll.
    RunOnUiThread([line] {
        const Text& log = RegisteredControls().workLog;
        if (log.empty()) {
            return;
        }
        const int row = InsertRow(log, -1, line);
        if (row >= 0) {
            EnsureVisible(log, row);
        }
    });
}

} // namespace pandrel
