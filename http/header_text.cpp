#include "http/header_text.h"

#include "runtime/text.h"

namespace pandrel {

Text CapitalizeWord(const Text& word) {
    Text out = word;
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') {
        out[0] = static_cast<char>(out[0] - 'a' + 'A');
    }
    return out;
}

namespace {

Text CapitalizeName(const Text& name) {
    if (FindText(name, "-") == -1) {
        return CapitalizeWord(name);
    }
    // A trailing "-" is not a piece of its own; the caller takes it back with the line's tail.
    Text out;
    for (const Text& piece : SplitText(name, "-")) {
        out += CapitalizeWord(piece) + "-";
    }
    out.pop_back();
    return out;
}

} // namespace

Text NormalizeHeaderNames(const Text& headers) {
    Text out;
    for (const Text& line : SplitText(headers, "\r\n")) {
        int colon = FindText(line, ":");
        if (colon == -1) {
            continue;
        }
        Text name = CapitalizeName(LeftText(line, colon - 1));
        out += name + RightText(line, TextLength(line) - TextLength(name)) + "\r\n";
    }
    if (!out.empty()) {
        out.resize(out.size() - 2);
    }
    return out;
}

Text UserAgentFrom(const Text& headers) {
    Text agent = TrimBoth(TextBetween(headers + "\r\n", "User-Agent:", "\r\n"));
    if (agent.empty()) {
        int colon = FindText(headers, ":");
        if (colon != -1) {
            agent = TrimBoth(RightText(headers, TextLength(headers) - colon));
        }
    }
    return agent;
}

bool HeaderLineNames(const Text& line, const Text& name) {
    return line.size() > name.size() && FindText(line, name, 1, true) == 1 &&
           (line[name.size()] == ':' || line[name.size()] == ';');
}

} // namespace pandrel
