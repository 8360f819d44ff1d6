#pragma once

// Messages between libdlengine.so and dlhost over a SOCK_SEQPACKET socket pair. Each request
// is one message (a Header, then the payload its op needs) and gets exactly one answer (a
// Header with the same op and handle, a result, then a payload for Hello and Query).

#include "dlengine.h"

#include <cstdint>

namespace dlengine::wire {

constexpr uint32_t kMagic = 0x50454C44; // "DLEP"
constexpr uint16_t kVersion = 1;

// The host finds its socket on this descriptor.
constexpr int kHostSocketFd = 3;

enum class Op : uint16_t {
    Hello = 1, // answer payload: none; result = kVersion
    Create,    // payload: CreatePayload; result 1 when made
    Start,     // result 1 when the task exists
    Query,     // answer payload: TaskStatusInfo; result 1 when the task exists
    Stop,
    Delete,
};

#pragma pack(push, 1)
struct Header {
    uint32_t magic = kMagic;
    uint16_t version = kVersion;
    uint16_t op = 0;
    int32_t handle = 0;
    int32_t result = 0;
};

// `restore.stat` is DL_STAT_NONE for a new task. A task recreated after the host was lost
// carries its last known status: finished and failed tasks come back as they were, others
// come back stopped and resume from their progress file on the next start.
struct CreatePayload {
    TaskCreateParams params;
    TaskStatusInfo restore;
};
#pragma pack(pop)

constexpr size_t kMaxMessage = sizeof(Header) + sizeof(CreatePayload);

} // namespace dlengine::wire
