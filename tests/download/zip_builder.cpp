#include "zip_builder.h"

#include <sys/stat.h>
#include <zip.h>

#include <ctime>

bool WriteZip(const std::string& path, const std::vector<ZipMember>& members) {
    zipFile archive = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (archive == nullptr) {
        return false;
    }
    bool good = true;
    for (const ZipMember& member : members) {
        zip_fileinfo info{};
        info.tmz_date = {static_cast<uInt>(member.second),    static_cast<uInt>(member.minute),
                         static_cast<uInt>(member.hour),      static_cast<uInt>(member.day),
                         static_cast<uInt>(member.month - 1), static_cast<uInt>(member.year)};
        info.external_fa = member.unixAttributes ? (S_IFREG | member.mode) << 16 : 0x20;
        const uLong madeBy = member.unixAttributes ? (3u << 8) | 20u : 20u;
        good = good && zipOpenNewFileInZip4(archive, member.name.c_str(), &info, nullptr, 0,
                                            nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                                            0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                            nullptr, 0, madeBy, 0) == ZIP_OK;
        good =
            good && (member.content.empty() ||
                     zipWriteInFileInZip(archive, member.content.data(),
                                         static_cast<unsigned>(member.content.size())) == ZIP_OK);
        good = good && zipCloseFileInZip(archive) == ZIP_OK;
    }
    return zipClose(archive, nullptr) == ZIP_OK && good;
}

std::int64_t MemberEpoch(const ZipMember& member) {
    std::tm parts{};
    parts.tm_year = member.year - 1900;
    parts.tm_mon = member.month - 1;
    parts.tm_mday = member.day;
    parts.tm_hour = member.hour;
    parts.tm_min = member.minute;
    parts.tm_sec = member.second; // zip times have two-second steps; tests use even seconds
    parts.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&parts));
}
