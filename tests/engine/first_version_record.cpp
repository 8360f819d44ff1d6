#include "first_version_record.h"

#include <zlib.h>

std::string FirstVersionRecord(const dlengine::Progress& p) {
    std::string out = "DLCF";
    const auto u32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    };
    const auto i64 = [&u32](int64_t v) {
        u32(static_cast<uint32_t>(v));
        u32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    };
    u32(1);
    i64(p.total);
    u32(static_cast<uint32_t>(p.etag.size()));
    out += p.etag;
    u32(static_cast<uint32_t>(p.lastModified.size()));
    out += p.lastModified;
    u32(static_cast<uint32_t>(p.missing.size()));
    for (const dlengine::ByteRange& r : p.missing) {
        i64(r.begin);
        i64(r.end);
    }
    u32(static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()))));
    return out;
}
