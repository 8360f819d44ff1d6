#include "app/clipboard_watch.h"

#include "runtime/text.h"
#include "runtime/ui/clipboard.h"
#include "runtime/ui/controls.h"

namespace pandrel {

void ToggleClipboardWatch(ProgramState&) {
    const bool checked = GetTruthProperty("选择框1", Property::Checked);
    SetProperty("时钟1", Property::Interval, std::int32_t{checked ? 1000 : 0});
}

void WatchClipboard(ProgramState&) {
    if (FindText(GetClipboardText(), "链接") == -1) {
        return;
    }
    if (FindText(GetClipboardText(), "提取码") == -1) {
        return;
    }
    if (GetClipboardText() == GetTextProperty("编辑框1", Property::Content)) {
        return;
    }
    SetProperty("编辑框1", Property::Content, GetClipboardText());
}

} // namespace pandrel
