#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http_server.h"
#include "options.h"

namespace sharesim {

class FileDownload;

// Routes the requests of the service: home page, share listings and file downloads.
class ShareService {
public:
    ShareService(const Options& options, int port);
    ~ShareService();

    bool Handle(const HttpRequest& request, Connection& connection);

private:
    bool ServeListing(const HttpRequest& request, Connection& connection);
    bool ServeDownload(const HttpRequest& request, Connection& connection);
    std::string LinkBase(const HttpRequest& request) const;

    Options m_options;
    std::filesystem::path m_root;
    std::string m_ownAddress; // host:port this service listens on
    std::unique_ptr<FileDownload> m_download;
};

// Text helpers the pages use, exposed for the download side.
std::string PercentEncode(std::string_view text);
// Decodes %XX (and "+" as a space when `plusIsSpace`); nothing for a malformed escape.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace);
// "512 B", "12.3 KB", "1.50 MB": three significant digits above 1 KB.
std::string SizeText(std::uint64_t bytes);
// A share id or file name that names one entry of its folder: not empty, no "/", no zero
// byte, not hidden (no leading "."), which also rules out "." and "..".
bool IsPlainName(std::string_view name);

} // namespace sharesim
