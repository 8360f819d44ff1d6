// The host's reading of library messages over arbitrary bytes: a message it accepts is decoded,
// a Create builds a task from the record's text fields (names, URLs, restore status) without
// touching the disk or the network, and the task's status record can be read back.
#include <cstdint>
#include <cstring>
#include <curl/curl.h>

#include "disk_flusher.h"
#include "fuzz/support/fuzz_check.h"
#include "request.h"
#include "settings.h"
#include "task.h"

using namespace dlengine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Short inputs are widened to a whole Create message so that the record's fields get
    // fuzzed too: the input's bytes overwrite the front of a zeroed message.
    static std::uint8_t message[sizeof(wire::Header) + sizeof(wire::CreatePayload)];
    const std::uint8_t* bytes = data;
    std::size_t length = size;
    if (size > 0 && (data[0] & 1) != 0) {
        std::memset(message, 0, sizeof message);
        wire::Header header;
        header.op = static_cast<std::uint16_t>(wire::Op::Create);
        header.handle = 1;
        std::memcpy(message, &header, sizeof header);
        const std::size_t tail = std::min(size - 1, sizeof message - sizeof header);
        std::memcpy(message + sizeof header, data + 1, tail);
        bytes = message;
        length = sizeof message;
    }
    Request request;
    if (!DecodeRequest(bytes, length, &request)) {
        return 0;
    }
    FUZZ_CHECK(request.header.magic == wire::kMagic);
    if (request.create == nullptr) {
        return 0;
    }
    static CURLM* multi = curl_multi_init();
    // Made on this thread, the one that runs every input, as the host loop makes its own.
    static DiskFlusher flusher;
    const HostSettings settings;
    Task task(request.header.handle, request.create->params, request.create->restore, multi,
              flusher, settings);
    TaskStatusInfo status{};
    task.Fill(&status);
    FUZZ_CHECK(status.stat >= DL_STAT_NONE && status.stat <= DL_STAT_FINISHED);
    return 0;
}
