#include "share/share_link.h"

#include "share/regex_object.h"

namespace pandrel {

Text ExtractionPattern(const Text& shareHost) {
    return shareHost + "/s/(.*?[~\\s])\\W.*?([a-z0-9]{4})";
}

ShareLink ExtractShareLink(const Text& input, const Text& shareHost) {
    RegexObject regex;
    regex.Execute(ExtractionPattern(shareHost), input);
    ShareLink link{regex.SubMatch(1, 1), regex.SubMatch(1, 2)};
    if (link.id.empty()) {
        return {};
    }
    return link;
}

} // namespace pandrel
