// The carried gzip library, loaded the way any program would load it after its release.
#include <dlfcn.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>

#include "download/engine_deployment.h"
#include "gzip.h"
#include "support/sandbox.h"

namespace {

using pandrel::Bytes;

// The library's twelve functions, bound by name from the released file.
struct GzipApi {
    decltype(&::CreateCompression) createCompression;
    decltype(&::InitCompression) initCompression;
    decltype(&::Compress) compress;
    decltype(&::ResetCompression) resetCompression;
    decltype(&::DeInitCompression) deInitCompression;
    decltype(&::DestroyCompression) destroyCompression;
    decltype(&::CreateDecompression) createDecompression;
    decltype(&::InitDecompression) initDecompression;
    decltype(&::Decompress) decompress;
    decltype(&::ResetDecompression) resetDecompression;
    decltype(&::DeInitDecompression) deInitDecompression;
    decltype(&::DestroyDecompression) destroyDecompression;
};

template <typename F> void Bind(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(::dlsym(library, name));
    ASSERT_NE(function, nullptr) << name;
}

Bytes SampleData(std::size_t size) {
    std::mt19937 random(7);
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        // Compressible but not trivial: runs of words with random bytes between them.
        data[i] = (i % 97 < 60) ? static_cast<std::uint8_t>("pandrel "[i % 8])
                                : static_cast<std::uint8_t>(random());
    }
    return data;
}

Bytes ZlibGunzip(const Bytes& gz) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    Bytes out(1 << 16);
    Bytes result;
    stream.next_in = const_cast<Bytef*>(gz.data());
    stream.avail_in = static_cast<uInt>(gz.size());
    int code = Z_OK;
    while (code == Z_OK) {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        code = inflate(&stream, Z_NO_FLUSH);
        result.insert(result.end(), out.data(), stream.next_out);
    }
    EXPECT_EQ(code, Z_STREAM_END);
    inflateEnd(&stream);
    return result;
}

Bytes ZlibGzip(const Bytes& data) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&stream, data.size()) + 64);
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

class GzipLibraryTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        pandrel::ReleaseGzipLibrary(Dir());
        m_library = ::dlopen((Dir() + "/libgzip.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_library, nullptr) << ::dlerror();
        Bind(m_library, "CreateCompression", api.createCompression);
        Bind(m_library, "InitCompression", api.initCompression);
        Bind(m_library, "Compress", api.compress);
        Bind(m_library, "ResetCompression", api.resetCompression);
        Bind(m_library, "DeInitCompression", api.deInitCompression);
        Bind(m_library, "DestroyCompression", api.destroyCompression);
        Bind(m_library, "CreateDecompression", api.createDecompression);
        Bind(m_library, "InitDecompression", api.initDecompression);
        Bind(m_library, "Decompress", api.decompress);
        Bind(m_library, "ResetDecompression", api.resetDecompression);
        Bind(m_library, "DeInitDecompression", api.deInitDecompression);
        Bind(m_library, "DestroyDecompression", api.destroyDecompression);
    }
    void TearDown() override {
        if (m_library != nullptr) {
            ::dlclose(m_library);
        }
        SandboxTest::TearDown();
    }

    // Feeds `input` in pieces of `inStep` with output space of `outStep` per call.
    Bytes CompressInSteps(GzipCompression* stream, const Bytes& input, std::size_t inStep,
                          std::size_t outStep) {
        Bytes result;
        Bytes out(outStep);
        std::size_t offset = 0;
        for (int guard = 0; guard < 1000000; ++guard) {
            const std::size_t piece = std::min(inStep, input.size() - offset);
            const bool last = offset + piece == input.size();
            std::size_t used = 0, written = 0;
            const int code = api.compress(stream, input.data() + offset, piece, &used, out.data(),
                                          out.size(), &written, last ? 1 : 0);
            EXPECT_GE(code, 0);
            offset += used;
            result.insert(result.end(), out.begin(), out.begin() + written);
            if (code == GZIP_STREAM_END || code < 0) {
                return result;
            }
        }
        ADD_FAILURE() << "compression never ended";
        return result;
    }

    // Gives the decompressed bytes and the final result code.
    std::pair<Bytes, int> DecompressInSteps(GzipDecompression* stream, const Bytes& input,
                                            std::size_t inStep, std::size_t outStep) {
        Bytes result;
        Bytes out(outStep);
        std::size_t offset = 0;
        for (int guard = 0; guard < 1000000; ++guard) {
            const std::size_t piece = std::min(inStep, input.size() - offset);
            std::size_t used = 0, written = 0;
            const int code = api.decompress(stream, input.data() + offset, piece, &used, out.data(),
                                            out.size(), &written);
            offset += used;
            result.insert(result.end(), out.begin(), out.begin() + written);
            if (code != GZIP_OK || (offset == input.size() && written == 0)) {
                return {result, code};
            }
        }
        ADD_FAILURE() << "decompression never ended";
        return {result, GZIP_OK};
    }

    GzipApi api{};

private:
    void* m_library = nullptr;
};

TEST_F(GzipLibraryTest, RoundTripsWithZlibInBothDirections) {
    struct Case {
        std::size_t size, inStep, outStep;
        int level;
    } cases[] = {
        {0, 1, 64, -1},     {1, 1, 1, 9}, {300000, 4096, 777, 6}, {300000, 300000, 1 << 20, 1},
        {100000, 13, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << "/" << c.inStep << "/" << c.outStep);
        const Bytes data = SampleData(c.size);

        GzipCompression* compressor = api.createCompression();
        ASSERT_EQ(api.initCompression(compressor, c.level), GZIP_OK);
        const Bytes gz = CompressInSteps(compressor, data, c.inStep, c.outStep);
        api.destroyCompression(compressor);
        ASSERT_GE(gz.size(), 18u);
        EXPECT_EQ(gz[0], 0x1F);
        EXPECT_EQ(gz[1], 0x8B);
        EXPECT_EQ(ZlibGunzip(gz), data);

        GzipDecompression* decompressor = api.createDecompression();
        ASSERT_EQ(api.initDecompression(decompressor), GZIP_OK);
        const auto [plain, code] =
            DecompressInSteps(decompressor, ZlibGzip(data), c.inStep, c.outStep);
        api.destroyDecompression(decompressor);
        EXPECT_EQ(code, GZIP_STREAM_END);
        EXPECT_EQ(plain, data);
    }
}

TEST_F(GzipLibraryTest, ResetStartsANewMemberAndBadInputIsReported) {
    const Bytes first = SampleData(5000), second = SampleData(800);
    GzipCompression* compressor = api.createCompression();
    ASSERT_EQ(api.initCompression(compressor, 9), GZIP_OK);
    const Bytes gz1 = CompressInSteps(compressor, first, 100, 100);
    ASSERT_EQ(api.resetCompression(compressor), GZIP_OK);
    const Bytes gz2 = CompressInSteps(compressor, second, 100, 100);
    EXPECT_EQ(api.deInitCompression(compressor), GZIP_OK);
    std::size_t used = 0;
    EXPECT_EQ(api.compress(compressor, first.data(), 1, &used, nullptr, 0, nullptr, 1),
              GZIP_ERROR_STATE);
    api.destroyCompression(compressor);
    EXPECT_EQ(ZlibGunzip(gz2), second);

    GzipDecompression* decompressor = api.createDecompression();
    EXPECT_EQ(api.decompress(decompressor, gz1.data(), gz1.size(), &used, nullptr, 0, nullptr),
              GZIP_ERROR_STATE);
    ASSERT_EQ(api.initDecompression(decompressor), GZIP_OK);
    EXPECT_EQ(DecompressInSteps(decompressor, gz1, 64, 64).first, first);
    ASSERT_EQ(api.resetDecompression(decompressor), GZIP_OK);
    EXPECT_EQ(DecompressInSteps(decompressor, gz2, 64, 64).first, second);

    // A damaged trailer (CRC-32) and a stream that is not gzip at all are both refused.
    Bytes damaged = gz1;
    damaged[damaged.size() - 6] ^= 0xFF;
    ASSERT_EQ(api.resetDecompression(decompressor), GZIP_OK);
    EXPECT_EQ(DecompressInSteps(decompressor, damaged, 4096, 1 << 16).second, GZIP_ERROR_DATA);
    const Bytes garbage(100, 'g');
    ASSERT_EQ(api.resetDecompression(decompressor), GZIP_OK);
    EXPECT_EQ(DecompressInSteps(decompressor, garbage, 100, 100).second, GZIP_ERROR_DATA);
    EXPECT_EQ(api.deInitDecompression(decompressor), GZIP_OK);
    api.destroyDecompression(decompressor);

    EXPECT_EQ(api.initCompression(nullptr, 1), GZIP_ERROR_ARGUMENT);
    GzipCompression* unused = api.createCompression();
    EXPECT_EQ(api.initCompression(unused, 10), GZIP_ERROR_ARGUMENT);
    api.destroyCompression(unused);
    api.destroyDecompression(nullptr);
}

} // namespace
