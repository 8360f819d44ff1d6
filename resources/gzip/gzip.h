/* The program's gzip compression library: gzip streams (RFC 1952) over zlib.
 *
 * A stream is an opaque handle. Its life runs Create -> Init -> (Compress | Decompress)... ->
 * DeInit -> Destroy; Reset starts a new gzip member on an initialised handle, and DeInit
 * followed by Init sets a handle up again. Every function takes NULL handles and gives
 * GZIP_ERROR_ARGUMENT for them (Destroy simply ignores NULL). A handle is used by one thread
 * at a time; different handles are independent.
 *
 * Data moves through caller buffers: each call consumes what it can of `input`, writes what
 * it can to `output` and reports both counts, so the caller repeats the call with the rest of
 * its input or with fresh output space until it sees GZIP_STREAM_END.
 */
#ifndef PANDREL_GZIP_H
#define PANDREL_GZIP_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum GzipResult {
    GZIP_OK = 0,              /* progress made; call again with more input or output space */
    GZIP_STREAM_END = 1,      /* the gzip member is complete (and checked when decompressing) */
    GZIP_ERROR_ARGUMENT = -1, /* NULL handle, NULL buffer with a nonzero size, bad level */
    GZIP_ERROR_STATE = -2,    /* the handle is not initialised */
    GZIP_ERROR_DATA = -3,     /* the input is not a valid gzip stream */
    GZIP_ERROR_MEMORY = -4    /* zlib could not get memory */
};

typedef struct GzipCompression GzipCompression;
typedef struct GzipDecompression GzipDecompression;

/* A new handle, not yet initialised; NULL when out of memory. */
GzipCompression* CreateCompression(void);
/* Prepares a gzip member at `level` (0-9, or -1 for zlib's default). */
int InitCompression(GzipCompression* stream, int level);
/* Compresses `input`; with `finish` nonzero the member is ended once all input is taken and
 * GZIP_STREAM_END is given when its last byte has been written to `output`. `inputUsed` and
 * `outputWritten` receive the counts of this call (either may be NULL). */
int Compress(GzipCompression* stream, const void* input, size_t inputSize, size_t* inputUsed,
             void* output, size_t outputSize, size_t* outputWritten, int finish);
/* Starts a new member with the same level, dropping any pending output. */
int ResetCompression(GzipCompression* stream);
/* Frees zlib's state; the handle can be initialised again. */
int DeInitCompression(GzipCompression* stream);
/* Deinitialises when needed and frees the handle. */
void DestroyCompression(GzipCompression* stream);

GzipDecompression* CreateDecompression(void);
int InitDecompression(GzipDecompression* stream);
/* Decompresses `input`; GZIP_STREAM_END once the member's trailer (CRC-32 and length) has been
 * read and matched. Input after the member's end is left unused: Reset and call again to read
 * a following member. */
int Decompress(GzipDecompression* stream, const void* input, size_t inputSize, size_t* inputUsed,
               void* output, size_t outputSize, size_t* outputWritten);
int ResetDecompression(GzipDecompression* stream);
int DeInitDecompression(GzipDecompression* stream);
void DestroyDecompression(GzipDecompression* stream);

#ifdef __cplusplus
}
#endif

#endif
