#include "app/clipboard_watch.h"

#include "runtime/control_names.h"
#include "runtime/text.h"
#include "runtime/ui/clipboard.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {

void ToggleClipboardWatch(ProgramState& state) {
    AssertUiThread();
    const bool checked = GetTruthProperty(kClipboardWatchBox, Property::Checked);
    SetProperty(kClipboardTimer, Property::Interval, std::int32_t{checked ? 1000 : 0});
    state.WatchedClipboardText.reset();
}

void WatchClipboard(ProgramState& state) {
    AssertUiThread();
    // Only what is new on the clipboard is taken: the same share text seen again would undo
    // every edit the user makes to the box.
    const Text clipboard = GetClipboardText();
    if (state.WatchedClipboardText == clipboard) {
        return;
    }
    state.WatchedClipboardText = clipboard;
    if (FindText(GetClipboardText(), "链接") == -1) {
        return;
    }
    if (FindText(GetClipboardText(), "提取码") == -1) {
        return;
    }
    if (GetClipboardText() == GetTextProperty(kShareInputBox, Property::Content)) {
        return;
    }
    SetProperty(kShareInputBox, Property::Content, GetClipboardText());
}

} // namespace pandrel
