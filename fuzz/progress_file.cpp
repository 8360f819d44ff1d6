// The ".td.cfg" reader over arbitrary bytes, as a damaged or foreign file on disk would give
// it. A record it accepts must be sound (ranges inside the total, ordered, apart); one of the
// current version must encode back to the very bytes it came from, and one of an older version
// must read back the same once written anew.
#include <cstdint>
#include <string>

#include "fuzz/support/fuzz_check.h"
#include "progress_file.h"

using namespace dlengine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Progress progress;
    if (!DecodeProgress(bytes, &progress)) {
        return 0;
    }
    FUZZ_CHECK(progress.total >= 0);
    int64_t last = 0;
    for (const ByteRange& range : progress.missing) {
        FUZZ_CHECK(range.begin >= last && range.begin < range.end && range.end <= progress.total);
        last = range.end;
    }
    FUZZ_CHECK(progress.MissingBytes() >= 0 && progress.MissingBytes() <= progress.total);
    const std::string written = EncodeProgress(progress);
    if (progress.version == Progress::kCurrentVersion) {
        FUZZ_CHECK(written == bytes);
    } else {
        Progress again;
        FUZZ_CHECK(DecodeProgress(written, &again) && EncodeProgress(again) == written);
    }
    return 0;
}
