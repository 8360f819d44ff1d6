#include "app/window_texts.h"

#include "runtime/text.h"

namespace pandrel {

Text FormatHint(const Text& shareHost) {
    return Text("格式：“链接：https://") + shareHost + "/s/**** \n提取码：****”" + kFormatWarning;
}

Text AboutText(const Text& templateText, const Deployment& deployment) {
    Text text = ReplaceSubtext(templateText, "{forum_page}", deployment.forumPage);
    return ReplaceSubtext(text, "{parse_service}", deployment.parseService);
}

} // namespace pandrel
