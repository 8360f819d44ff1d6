#include "progress_file.h"

#include <cstring>
#include <zlib.h>

namespace dlengine {
namespace {

constexpr char kMagic[4] = {'D', 'L', 'C', 'F'};
constexpr size_t kMaxRanges = 1 << 16;
constexpr size_t kMaxValidator = 4096;
// A link or cookie text of its whole field, percent-encoded: 2084 or 4096 units of up to three
// bytes, each of which may take three characters on the wire.
constexpr size_t kMaxRequestText = 64 * 1024;

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

void PutI64(std::string& out, int64_t v) {
    const auto u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) {
        out += static_cast<char>((u >> (8 * i)) & 0xFF);
    }
}

void PutText(std::string& out, const std::string& text) {
    PutU32(out, static_cast<uint32_t>(text.size()));
    out += text;
}

class Reader {
public:
    explicit Reader(const std::string& bytes) : m_bytes(bytes) {}

    bool U32(uint32_t* v) {
        if (m_bytes.size() - m_pos < 4) {
            return false;
        }
        *v = 0;
        for (int i = 0; i < 4; ++i) {
            *v |= static_cast<uint32_t>(static_cast<uint8_t>(m_bytes[m_pos++])) << (8 * i);
        }
        return true;
    }

    bool I64(int64_t* v) {
        if (m_bytes.size() - m_pos < 8) {
            return false;
        }
        uint64_t u = 0;
        for (int i = 0; i < 8; ++i) {
            u |= static_cast<uint64_t>(static_cast<uint8_t>(m_bytes[m_pos++])) << (8 * i);
        }
        *v = static_cast<int64_t>(u);
        return true;
    }

    bool Text(std::string* text, size_t limit = kMaxValidator) {
        uint32_t size = 0;
        if (!U32(&size) || size > limit || m_bytes.size() - m_pos < size) {
            return false;
        }
        *text = m_bytes.substr(m_pos, size);
        m_pos += size;
        return true;
    }

    size_t Position() const { return m_pos; }

private:
    const std::string& m_bytes;
    size_t m_pos = 0;
};

uint32_t Crc(const std::string& bytes, size_t size) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(size)));
}

} // namespace

int64_t Progress::MissingBytes() const {
    int64_t sum = 0;
    for (const ByteRange& r : missing) {
        sum += r.end - r.begin;
    }
    return sum;
}

std::string EncodeProgress(const Progress& progress) {
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, Progress::kCurrentVersion);
    PutI64(out, progress.total);
    PutText(out, progress.etag);
    PutText(out, progress.lastModified);
    PutText(out, progress.url);
    PutText(out, progress.referer);
    PutText(out, progress.cookies);
    PutText(out, progress.name);
    PutU32(out, static_cast<uint32_t>(progress.missing.size()));
    for (const ByteRange& r : progress.missing) {
        PutI64(out, r.begin);
        PutI64(out, r.end);
    }
    PutU32(out, Crc(out, out.size()));
    return out;
}

bool DecodeProgress(const std::string& bytes, Progress* progress) {
    if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, 4) != 0) {
        return false;
    }
    const std::string tail = bytes.substr(bytes.size() - 4);
    Reader tailReader(tail);
    uint32_t storedCrc = 0;
    tailReader.U32(&storedCrc);
    if (storedCrc != Crc(bytes, bytes.size() - 4)) {
        return false;
    }
    const std::string body = bytes.substr(4, bytes.size() - 8);
    Reader in(body);
    uint32_t version = 0;
    uint32_t count = 0;
    Progress p;
    if (!in.U32(&version) ||
        (version != Progress::kFirstVersion && version != Progress::kCurrentVersion) ||
        !in.I64(&p.total) || p.total <= 0 || !in.Text(&p.etag) || !in.Text(&p.lastModified)) {
        return false;
    }
    p.version = version;
    if (version >= 2 &&
        !(in.Text(&p.url, kMaxRequestText) && in.Text(&p.referer, kMaxRequestText) &&
          in.Text(&p.cookies, kMaxRequestText) && in.Text(&p.name, kMaxRequestText))) {
        return false;
    }
    if (!in.U32(&count) || count > kMaxRanges) {
        return false;
    }
    int64_t previousEnd = 0;
    for (uint32_t i = 0; i < count; ++i) {
        ByteRange r;
        if (!in.I64(&r.begin) || !in.I64(&r.end) || r.begin < previousEnd || r.end <= r.begin ||
            r.end > p.total) {
            return false;
        }
        previousEnd = r.end;
        p.missing.push_back(r);
    }
    if (in.Position() != body.size()) {
        return false;
    }
    *progress = std::move(p);
    return true;
}

} // namespace dlengine
