#pragma once

#include "protocol.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dlengine {

// One request from the library as the host reads it off the socket.
struct Request {
    wire::Header header;
    // Set for a Create whose message carries exactly one CreatePayload.
    std::unique_ptr<wire::CreatePayload> create;
};

// False for a message the host must not act on: shorter than a header, a foreign magic or
// version, or an op it does not know. A Create of the wrong size is still a request (it is
// answered with result 0), only without a payload.
bool DecodeRequest(const uint8_t* data, size_t size, Request* request);

} // namespace dlengine
