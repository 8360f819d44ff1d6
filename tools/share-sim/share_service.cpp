#include "share_service.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <strings.h>
#include <vector>

#include "file_download.h"

namespace sharesim {
namespace {

namespace fs = std::filesystem;

struct ShareFile {
    std::string name;
    std::uint64_t size = 0;
};

std::string ReadWhole(const fs::path& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string TrimBlanks(std::string text) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    return text;
}

// The first value of `key` in a query string, decoded; nothing when absent or malformed.
std::optional<std::string> QueryValue(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == key) {
            return PercentDecode(equals == std::string_view::npos ? std::string_view()
                                                                  : pair.substr(equals + 1),
                                 true);
        }
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return std::nullopt;
}

// The identifier as the extraction hands it over may end in the separator it stopped at.
std::string StripSeparator(std::string id) {
    while (!id.empty() &&
           (std::isspace(static_cast<unsigned char>(id.back())) || id.back() == '~')) {
        id.pop_back();
    }
    return id;
}

std::vector<ShareFile> ListFiles(const fs::path& folder) {
    std::vector<ShareFile> files;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        // Symbolic links are skipped so a share can never reach outside its folder.
        if (IsPlainName(name) && entry.is_regular_file(ec) && !entry.is_symlink(ec)) {
            files.push_back({name, entry.file_size(ec)});
        }
    }
    std::sort(files.begin(), files.end(),
              [](const ShareFile& a, const ShareFile& b) { return a.name < b.name; });
    return files;
}

std::string PageShell(const std::string& body) {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>文件列表</title>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

std::string ErrorPage(const std::string& message) {
    return PageShell("<div class=\"error\">" + message + "</div>\n");
}

bool SendPage(const HttpRequest& request, Connection& connection, int status,
              const std::string& page) {
    const std::string head = ResponseHead(status, {{"Content-Type", "text/html; charset=utf-8"},
                                                   {"Content-Length", std::to_string(page.size())},
                                                   {"Cache-Control", "no-store"}});
    return connection.Send(request.method == "HEAD" ? head : head + page);
}

bool IsHostHeader(std::string_view host) {
    return !host.empty() && host.size() < 256 &&
           std::all_of(host.begin(), host.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
           });
}

} // namespace

std::string PercentEncode(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const auto hex = [](char c) -> int {
                return std::isxdigit(static_cast<unsigned char>(c))
                           ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                          : (c | 0x20) - 'a' + 10)
                           : -1;
            };
            const int high = hex(text[i + 1]);
            const int low = hex(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += plusIsSpace && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::string SizeText(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[64];
    const int decimals = value < 10 ? 2 : value < 100 ? 1 : 0;
    std::snprintf(text, sizeof text, "%.*f %s", decimals, value, kUnits[unit]);
    return text;
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

ShareService::ShareService(const Options& options, int port)
    : m_options(options), m_root(fs::absolute(options.root)),
      m_ownAddress(
          (options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host) +
          ":" + std::to_string(port)),
      m_download(std::make_unique<FileDownload>(options)) {}

ShareService::~ShareService() = default;

bool ShareService::Handle(const HttpRequest& request, Connection& connection) {
    if (m_options.latency.count() > 0 && !connection.Wait(m_options.latency)) {
        return false; // the client left while its answer was on the way
    }
    if (request.method != "GET" && request.method != "HEAD") {
        connection.Send(ResponseHead(
            405, {{"Allow", "GET, HEAD"}, {"Content-Length", "0"}, {"Connection", "close"}}));
        return false;
    }
    if (request.path.rfind("/d/", 0) == 0) {
        return ServeDownload(request, connection);
    }
    if (request.path == "/") {
        return ServeListing(request, connection);
    }
    return SendPage(request, connection, 404, ErrorPage("页面不存在"));
}

std::string ShareService::LinkBase(const HttpRequest& request) const {
    const std::string host = request.Header("Host");
    return "http://" + (IsHostHeader(host) ? host : m_ownAddress) + "/d/";
}

bool ShareService::ServeListing(const HttpRequest& request, Connection& connection) {
    const auto id = QueryValue(request.query, "share");
    if (!id) {
        return SendPage(request, connection, 200,
                        PageShell("<h1>share-sim</h1>\n<p>GET /?share=ID&amp;pwd=CODE lists a "
                                  "share; GET /d/ID/NAME downloads one of its files.</p>\n"));
    }
    if (m_options.listingStall) {
        connection.WaitForPeerToLeave();
        return false;
    }
    if (m_options.listingStatus != 0) {
        return SendPage(request, connection, m_options.listingStatus,
                        ErrorPage("解析服务维护中，请稍后再试"));
    }
    if (!m_options.page.empty()) {
        bool ok = false;
        const std::string page = ReadWhole(m_options.page, ok);
        return ok ? SendPage(request, connection, 200, page)
                  : SendPage(request, connection, 500, ErrorPage("页面文件无法读取"));
    }
    const std::string shareId = StripSeparator(*id);
    const fs::path folder = m_root / shareId;
    std::error_code ec;
    bool hasCode = false;
    const std::string code = IsPlainName(shareId) && fs::is_directory(folder, ec)
                                 ? TrimBlanks(ReadWhole(folder / ".code", hasCode))
                                 : std::string();
    if (!hasCode || code.empty()) {
        return SendPage(request, connection, 200, ErrorPage("分享不存在或已失效"));
    }
    const std::string pwd = QueryValue(request.query, "pwd").value_or("");
    if (pwd.size() != code.size() || strcasecmp(pwd.c_str(), code.c_str()) != 0) {
        return SendPage(request, connection, 200, ErrorPage("提取码错误"));
    }
    const std::string base = LinkBase(request) + PercentEncode(shareId) + "/";
    std::string rows;
    for (const ShareFile& file : ListFiles(folder)) {
        // Names go out as they are: the program reads the cells as plain text.
        rows += "<tr><td>" + file.name + "</td><td>" + SizeText(file.size) +
                "</td><td><a target=\"_blank\" href=\"" + base + PercentEncode(file.name) +
                "\">点我下载</a></td></tr>\n";
    }
    return SendPage(request, connection, 200,
                    PageShell("<table class=\"files\">\n<thead>\n<tr><th>文件名</th><th>大小</th>"
                              "<th>下载</th></tr>\n</thead>\n<tbody>\n" +
                              rows + "</tbody>\n</table>\n"));
}

bool ShareService::ServeDownload(const HttpRequest& request, Connection& connection) {
    // Split before decoding so an encoded "/" can never add a level.
    const std::string_view rest = std::string_view(request.path).substr(3);
    const std::size_t slash = rest.find('/');
    const auto shareId = PercentDecode(rest.substr(0, slash), false);
    const auto name = slash == std::string_view::npos
                          ? std::nullopt
                          : PercentDecode(rest.substr(slash + 1), false);
    if (!shareId || !name || !IsPlainName(*shareId) || !IsPlainName(*name)) {
        return m_download->Refuse(request, connection, 403);
    }
    const fs::path path = m_root / *shareId / *name;
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(path, ec);
    const fs::path realRoot = fs::weakly_canonical(m_root, ec);
    const auto rootEnd =
        std::mismatch(realRoot.begin(), realRoot.end(), real.begin(), real.end()).first;
    if (ec || rootEnd != realRoot.end() || fs::is_symlink(path, ec)) {
        return m_download->Refuse(request, connection, 403);
    }
    return m_download->Serve(request, connection, path);
}

} // namespace sharesim
