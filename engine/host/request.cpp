#include "request.h"

#include <cstring>

namespace dlengine {

bool DecodeRequest(const uint8_t* data, size_t size, Request* request) {
    request->create.reset();
    if (data == nullptr || size < sizeof request->header) {
        return false;
    }
    std::memcpy(&request->header, data, sizeof request->header);
    const wire::Header& header = request->header;
    if (header.magic != wire::kMagic || header.version != wire::kVersion) {
        return false;
    }
    if (header.op < static_cast<uint16_t>(wire::Op::Hello) ||
        header.op > static_cast<uint16_t>(wire::Op::Delete)) {
        return false;
    }
    if (static_cast<wire::Op>(header.op) == wire::Op::Create &&
        size == sizeof header + sizeof(wire::CreatePayload)) {
        request->create = std::make_unique<wire::CreatePayload>();
        std::memcpy(request->create.get(), data + sizeof header, sizeof(wire::CreatePayload));
    }
    return true;
}

} // namespace dlengine
