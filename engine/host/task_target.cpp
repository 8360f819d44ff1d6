#include "task_target.h"

#include "dlengine_files.h"
#include "file_names.h"
#include "utf16.h"
#include "wire_url.h"

namespace dlengine {

TaskTarget ReadTarget(const TaskCreateParams& params) {
    TaskTarget t;
    t.url = ToWireUrl(Utf16FieldToUtf8(params.szTaskUrl, kUrlUnits));
    t.referer = Utf16FieldToUtf8(params.szRefUrl, kUrlUnits);
    t.cookies = Utf16FieldToUtf8(params.szCookies, 4096);
    t.name = Utf16FieldToUtf8(params.szFilename, kPathUnits);
    t.stem = WorkingStem(t.name);
    t.folder = Utf16FieldToUtf8(params.szSavePath, kPathUnits);
    t.replace = params.DisableAutoRename != 0;
    t.resume = params.IsResume != 0;
    // A text that fills its whole field was cut there: a cut name or folder would put the
    // file somewhere else than asked, so it is refused. The field reader stops at the first
    // NUL unit, so a name can never hold a NUL byte here; the checks still run on what the
    // record gave. A relative folder would depend on where the host happens to run.
    const bool pathsWhole = FieldHoldsWholeText(params.szFilename, kPathUnits) &&
                            FieldHoldsWholeText(params.szSavePath, kPathUnits);
    if (!pathsWhole || !IsSafeFileName(t.name) || t.folder.empty() || t.folder[0] != '/') {
        t.refusal = DL_FAIL_FILENAME;
    } else if (!FieldHoldsWholeText(params.szTaskUrl, kUrlUnits) || t.url.empty()) {
        t.refusal = DL_FAIL_URL;
    }
    return t;
}

} // namespace dlengine
