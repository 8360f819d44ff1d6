#include "gzip.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#define GZIP_EXPORT __attribute__((visibility("default")))

/* zlib's window bits plus 16: a gzip header and trailer instead of the zlib wrapper. */
enum { kGzipWindowBits = 15 + 16 };

struct GzipCompression {
    z_stream zlib;
    int initialised;
    int level;
};

struct GzipDecompression {
    z_stream zlib;
    int initialised;
};

static int FromZlib(int code) {
    switch (code) {
    case Z_OK:
    case Z_BUF_ERROR: /* no progress possible: the caller must bring input or space */
        return GZIP_OK;
    case Z_STREAM_END:
        return GZIP_STREAM_END;
    case Z_MEM_ERROR:
        return GZIP_ERROR_MEMORY;
    case Z_DATA_ERROR:
    case Z_NEED_DICT:
        return GZIP_ERROR_DATA;
    default:
        return GZIP_ERROR_STATE;
    }
}

static int BuffersValid(const void* input, size_t inputSize, const void* output,
                        size_t outputSize) {
    return (input != NULL || inputSize == 0) && (output != NULL || outputSize == 0);
}

/* zlib counts in uInt; larger buffers are fed in slices. Returns the zlib code of the last
 * step. `step` runs deflate or inflate on the stream. */
static int Pump(z_stream* zlib, const void* input, size_t inputSize, size_t* inputUsed,
                void* output, size_t outputSize, size_t* outputWritten, int (*step)(z_stream*, int),
                int flush) {
    size_t taken = 0;
    size_t given = 0;
    int code = Z_OK;
    for (;;) {
        size_t inputLeft = inputSize - taken;
        size_t outputLeft = outputSize - given;
        uInt inSlice = inputLeft > UINT_MAX ? UINT_MAX : (uInt)inputLeft;
        uInt outSlice = outputLeft > UINT_MAX ? UINT_MAX : (uInt)outputLeft;
        /* Only the last slice of input may carry the finishing flush. */
        int sliceFlush = inSlice == inputLeft ? flush : Z_NO_FLUSH;
        zlib->next_in = (Bytef*)((const unsigned char*)input + taken);
        zlib->avail_in = inSlice;
        zlib->next_out = (Bytef*)output + given;
        zlib->avail_out = outSlice;
        code = step(zlib, sliceFlush);
        taken += inSlice - zlib->avail_in;
        given += outSlice - zlib->avail_out;
        if (code != Z_OK || given == outputSize ||
            (taken == inputSize && sliceFlush == flush && zlib->avail_out != 0)) {
            break;
        }
    }
    zlib->next_in = NULL;
    zlib->avail_in = 0;
    zlib->next_out = NULL;
    zlib->avail_out = 0;
    if (inputUsed != NULL) {
        *inputUsed = taken;
    }
    if (outputWritten != NULL) {
        *outputWritten = given;
    }
    return code;
}

static int InflateStep(z_stream* zlib, int flush) {
    return inflate(zlib, flush);
}
static int DeflateStep(z_stream* zlib, int flush) {
    return deflate(zlib, flush);
}

GZIP_EXPORT GzipCompression* CreateCompression(void) {
    return (GzipCompression*)calloc(1, sizeof(GzipCompression));
}

GZIP_EXPORT int InitCompression(GzipCompression* stream, int level) {
    if (stream == NULL || level < -1 || level > 9) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (stream->initialised) {
        deflateEnd(&stream->zlib);
        stream->initialised = 0;
    }
    memset(&stream->zlib, 0, sizeof stream->zlib);
    int code =
        deflateInit2(&stream->zlib, level, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY);
    if (code != Z_OK) {
        return FromZlib(code);
    }
    stream->initialised = 1;
    stream->level = level;
    return GZIP_OK;
}

GZIP_EXPORT int Compress(GzipCompression* stream, const void* input, size_t inputSize,
                         size_t* inputUsed, void* output, size_t outputSize, size_t* outputWritten,
                         int finish) {
    if (inputUsed != NULL) {
        *inputUsed = 0;
    }
    if (outputWritten != NULL) {
        *outputWritten = 0;
    }
    if (stream == NULL || !BuffersValid(input, inputSize, output, outputSize)) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (!stream->initialised) {
        return GZIP_ERROR_STATE;
    }
    return FromZlib(Pump(&stream->zlib, input, inputSize, inputUsed, output, outputSize,
                         outputWritten, DeflateStep, finish ? Z_FINISH : Z_NO_FLUSH));
}

GZIP_EXPORT int ResetCompression(GzipCompression* stream) {
    if (stream == NULL) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (!stream->initialised) {
        return GZIP_ERROR_STATE;
    }
    return FromZlib(deflateReset(&stream->zlib));
}

GZIP_EXPORT int DeInitCompression(GzipCompression* stream) {
    if (stream == NULL) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (!stream->initialised) {
        return GZIP_ERROR_STATE;
    }
    deflateEnd(&stream->zlib);
    stream->initialised = 0;
    return GZIP_OK;
}

GZIP_EXPORT void DestroyCompression(GzipCompression* stream) {
    if (stream != NULL && stream->initialised) {
        deflateEnd(&stream->zlib);
    }
    free(stream);
}

GZIP_EXPORT GzipDecompression* CreateDecompression(void) {
    return (GzipDecompression*)calloc(1, sizeof(GzipDecompression));
}

GZIP_EXPORT int InitDecompression(GzipDecompression* stream) {
    if (stream == NULL) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (stream->initialised) {
        inflateEnd(&stream->zlib);
        stream->initialised = 0;
    }
    memset(&stream->zlib, 0, sizeof stream->zlib);
    int code = inflateInit2(&stream->zlib, kGzipWindowBits);
    if (code != Z_OK) {
        return FromZlib(code);
    }
    stream->initialised = 1;
    return GZIP_OK;
}

GZIP_EXPORT int Decompress(GzipDecompression* stream, const void* input, size_t inputSize,
                           size_t* inputUsed, void* output, size_t outputSize,
                           size_t* outputWritten) {
    if (inputUsed != NULL) {
        *inputUsed = 0;
    }
    if (outputWritten != NULL) {
        *outputWritten = 0;
    }
    if (stream == NULL || !BuffersValid(input, inputSize, output, outputSize)) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (!stream->initialised) {
        return GZIP_ERROR_STATE;
    }
    return FromZlib(Pump(&stream->zlib, input, inputSize, inputUsed, output, outputSize,
                         outputWritten, InflateStep, Z_NO_FLUSH));
}

GZIP_EXPORT int ResetDecompression(GzipDecompression* stream) {
    if (stream == NULL) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (!stream->initialised) {
        return GZIP_ERROR_STATE;
    }
    return FromZlib(inflateReset(&stream->zlib));
}

GZIP_EXPORT int DeInitDecompression(GzipDecompression* stream) {
    if (stream == NULL) {
        return GZIP_ERROR_ARGUMENT;
    }
    if (!stream->initialised) {
        return GZIP_ERROR_STATE;
    }
    inflateEnd(&stream->zlib);
    stream->initialised = 0;
    return GZIP_OK;
}

GZIP_EXPORT void DestroyDecompression(GzipDecompression* stream) {
    if (stream != NULL && stream->initialised) {
        inflateEnd(&stream->zlib);
    }
    free(stream);
}
