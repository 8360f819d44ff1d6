#include "share/regex_object.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <string_view>

namespace pandrel {
namespace {

constexpr std::string_view kQuoteMarker = "#引号";

// Builds a new text rather than replacing in place: g++ 12 mistakes std::string::replace
// inlined here for an overlapping copy and -Werror=restrict stops the release build.
Text ReplaceAll(const Text& text, std::string_view part, std::string_view replacement) {
    Text out;
    std::size_t from = 0;
    for (std::size_t at = text.find(part); at != Text::npos; at = text.find(part, from)) {
        out.append(text, from, at - from);
        out.append(replacement);
        from = at + part.size();
    }
    out.append(text, from, Text::npos);
    return out;
}

// The offset just past the character that starts at `at`: one lead byte and its continuation
// bytes. A stray byte counts as one character; the matcher skips invalid sequences itself.
std::size_t NextCharacter(const Text& text, std::size_t at) {
    std::size_t next = at + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) {
        ++next;
    }
    return next;
}

struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

} // namespace

struct RegexObject::Compiled {
    pcre2_code* code = nullptr;
    ~Compiled() { pcre2_code_free(code); }
};

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject& other) = default;
RegexObject& RegexObject::operator=(const RegexObject& other) = default;

bool RegexObject::Execute(const Text& pattern, const Text& text, bool caseSensitive, bool multiLine,
                          bool global, bool quoteMarker) {
    m_code.reset();
    m_matches.clear();
    m_pattern = quoteMarker ? ReplaceAll(pattern, kQuoteMarker, "\"") : pattern;
    m_hasPattern = true;
    m_lastText = text;
    m_global = global;

    const uint32_t options =
        (caseSensitive ? 0u : PCRE2_CASELESS) | (multiLine ? PCRE2_MULTILINE : 0u);
    m_code = Compile(m_pattern, options, false);
    CollectResult result = m_code ? CollectMatches() : CollectResult::Failed;
    if (result == CollectResult::InvalidText) {
        m_matches.clear();
        m_code = Compile(m_pattern, options, true);
        result = m_code ? CollectMatches() : CollectResult::Failed;
    }
    if (result != CollectResult::Done) {
        m_code.reset();
        m_matches.clear();
        return false;
    }
    return true;
}

std::shared_ptr<const RegexObject::Compiled>
RegexObject::Compile(const Text& pattern, uint32_t options, bool invalidText) {
    // UTF mode without UCP: "\w", "\d", "\s" and "\b" stay ASCII, so every Chinese character
    // is a "\W". Line feed alone ends a line, so "." still matches a carriage return.
    options |= PCRE2_UTF;
    if (invalidText) {
        options |= PCRE2_MATCH_INVALID_UTF;
    }
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    if (context == nullptr) {
        return nullptr;
    }
    pcre2_set_newline(context, PCRE2_NEWLINE_LF);
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     options, &errorCode, &errorOffset, context);
    pcre2_compile_context_free(context);
    if (code == nullptr) {
        return nullptr;
    }
    // JIT is only a speed-up. The JIT code for texts with invalid UTF-8 lets "\W" miss
    // characters beyond ASCII in this library version, so those texts use the interpreter.
    if (!invalidText) {
        pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    }
    auto compiled = std::make_shared<Compiled>();
    compiled->code = code;
    return compiled;
}

RegexObject::CollectResult RegexObject::CollectMatches() {
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create_from_pattern(m_code->code, nullptr));
    if (!data) {
        return CollectResult::Failed;
    }
    const auto* subject = reinterpret_cast<PCRE2_SPTR>(m_lastText.data());
    std::size_t start = 0;
    while (start <= m_lastText.size()) {
        const int rc =
            pcre2_match(m_code->code, subject, m_lastText.size(), start, 0, data.get(), nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) {
            break;
        }
        if (rc <= PCRE2_ERROR_UTF8_ERR1 && rc >= PCRE2_ERROR_UTF8_ERR21) {
            return CollectResult::InvalidText;
        }
        if (rc < 0) {
            return CollectResult::Failed; // match limits and the like: no partial collection
        }
        const uint32_t pairs = pcre2_get_ovector_count(data.get());
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
        Match match;
        match.offsets.reserve(pairs * 2);
        for (uint32_t i = 0; i < pairs * 2; ++i) {
            match.offsets.push_back(ovector[i] == PCRE2_UNSET ? Text::npos : ovector[i]);
        }
        m_matches.push_back(std::move(match));
        if (!m_global) {
            break;
        }
        // An empty match moves the search on by one whole character, so the next match can
        // neither repeat it nor start inside a character.
        const std::size_t end = ovector[1];
        start = end > ovector[0] ? end : NextCharacter(m_lastText, end);
        if (end == m_lastText.size() && end == ovector[0]) {
            break;
        }
    }
    return CollectResult::Done;
}

Text RegexObject::GetPattern() const {
    return m_hasPattern ? m_pattern : Text();
}

Text RegexObject::ReplaceText(const Text& replacement) const {
    if (!m_code) {
        return {};
    }
    uint32_t options = PCRE2_SUBSTITUTE_OVERFLOW_LENGTH | PCRE2_SUBSTITUTE_UNSET_EMPTY |
                       PCRE2_SUBSTITUTE_UNKNOWN_UNSET;
    if (m_global) {
        options |= PCRE2_SUBSTITUTE_GLOBAL;
    }
    Text output(m_lastText.size() + replacement.size() + 64, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        PCRE2_SIZE length = output.size();
        const int rc = pcre2_substitute(
            m_code->code, reinterpret_cast<PCRE2_SPTR>(m_lastText.data()), m_lastText.size(), 0,
            options, nullptr, nullptr, reinterpret_cast<PCRE2_SPTR>(replacement.data()),
            replacement.size(), reinterpret_cast<PCRE2_UCHAR*>(output.data()), &length);
        if (rc >= 0) {
            output.resize(length);
            return output;
        }
        if (rc != PCRE2_ERROR_NOMEMORY) {
            return {};
        }
        // `length` now holds the size needed, terminating zero included.
        output.assign(length, '\0');
    }
    return {};
}

int RegexObject::MatchCount() const {
    return static_cast<int>(m_matches.size());
}

Text RegexObject::Slice(std::size_t start, std::size_t end) const {
    if (start == Text::npos || end == Text::npos || end < start || end > m_lastText.size()) {
        return {};
    }
    return m_lastText.substr(start, end - start);
}

Text RegexObject::MatchText(int matchNumber) const {
    if (matchNumber < 1 || matchNumber > MatchCount()) {
        return {};
    }
    const Match& match = m_matches[static_cast<std::size_t>(matchNumber - 1)];
    return Slice(match.offsets[0], match.offsets[1]);
}

Text RegexObject::SubMatch(int matchNumber, int subNumber) const {
    if (matchNumber < 1 || matchNumber > MatchCount() || subNumber < 1) {
        return {};
    }
    const Match& match = m_matches[static_cast<std::size_t>(matchNumber - 1)];
    const std::size_t at = static_cast<std::size_t>(subNumber) * 2;
    if (at + 1 >= match.offsets.size()) {
        return {};
    }
    return Slice(match.offsets[at], match.offsets[at + 1]);
}

int RegexObject::SubMatchCount() const {
    if (m_matches.empty()) {
        return 0;
    }
    return static_cast<int>(m_matches.front().offsets.size() / 2) - 1;
}

} // namespace pandrel
