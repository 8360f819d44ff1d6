#include "share/file_entry.h"

#include "runtime/text.h"

namespace pandrel {

Text CutFileLink(const Text& row) {
    Text quoted = TextBetween(row, "href=", ">点我下载");
    if (quoted.size() < 2) {
        return {};
    }
    return quoted.substr(1, quoted.size() - 2);
}

FileEntry CutFileEntry(const Text& row) {
    return {TextBetween(row, "<tr><td>", "</td><td>"),
            TextBetween(row, "</td><td>", "</td><td><a target"), CutFileLink(row)};
}

} // namespace pandrel
