#pragma once

// The download engine's C interface: six functions and the two fixed-layout records they
// exchange. Records are plain byte blocks, little-endian, 1-byte packed; text fields hold
// UTF-16LE text ending with a NUL unit when it fits. Every function may be called from any
// thread at any time.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

typedef struct TaskCreateParams {
    int32_t nReserved;
    uint16_t szTaskUrl[2084];
    uint16_t szRefUrl[2084];
    uint16_t szCookies[4096];
    uint16_t szFilename[260];
    uint8_t szReserved0[520];
    uint16_t szSavePath[260];
    int32_t hReserved;
    int32_t bReserved;
    uint8_t szReserved1[128];
    uint8_t szReserved2[128];
    int32_t IsOnlyOriginal;
    int32_t nReserved1;
    int32_t DisableAutoRename;
    int32_t IsResume;
    uint8_t reserved[8192];
} TaskCreateParams;

typedef struct TaskStatusInfo {
    int32_t stat;
    int32_t fail_code;
    uint16_t szFilename[260];
    uint8_t szReserved0[520];
    int64_t nTotalSize;
    int64_t nTotalDownload;
    float fPercent;
    int32_t nReserved0;
    int32_t nSrcTotal;
    int32_t nSrcUsing;
    int32_t nReserved1;
    int32_t nReserved2;
    int32_t nReserved3;
    int32_t nReserved4;
    int64_t nReserved5;
    int64_t nDonationP2P;
    int64_t nReserved6;
    int64_t nDonationOrgin;
    int64_t nDonationP2S;
    int64_t nReserved7;
    int64_t nReserved8;
    int32_t nSpeed;
    int32_t nSpeedP2S;
    int32_t nSpeedP2P;
    uint8_t bIsOriginUsable;
    uint8_t fHashPercent[4];
    int32_t IsCreatingFile;
    uint8_t reserved[256];
} TaskStatusInfo;

#pragma pack(pop)

// Values of TaskStatusInfo.stat.
enum {
    DL_STAT_NONE = 0,        // no such task: never created, or deleted
    DL_STAT_FAILED = 1,      // fail_code says why
    DL_STAT_STOPPED = 2,     // also after creation, before the first start
    DL_STAT_DOWNLOADING = 3, // connecting, transferring or waiting to retry
    DL_STAT_FINISHED = 4,
};

// Values of TaskStatusInfo.fail_code.
enum {
    DL_FAIL_NONE = 0,
    DL_FAIL_NETWORK = 1,   // retries exhausted
    DL_FAIL_HTTP = 2,      // the server refused (401, 403, 404, 410, other 4xx), or the file
                           // changed on the server a second time during one download
    DL_FAIL_DISK = 3,      // no space (also: a size the disk cannot hold with its margin
                           // kept), no permission, the working file vanished or was replaced,
                           // or a working name is taken by anything but a plain regular file
                           // (a link, a folder, a FIFO, a file with a second name)
    DL_FAIL_FILENAME = 4,  // the name is not a plain name of at most 255 bytes (or holds a
                           // control or bidi character, or is one of the engine's working
                           // names), the save folder is not absolute, or either text was cut
                           // at its field's size
    DL_FAIL_URL = 5,       // the URL cannot be parsed as an http or https URL
    DL_FAIL_HOST_LOST = 6, // the engine process died and could not be started again
    DL_FAIL_IN_USE = 7,    // file in use by another task: another task (of this engine or of
                           // another process) is writing the same file
};

// Every function below answers within 2 s. A host that does not answer in time is treated as
// lost: it is ended, a new one is started in the background and given back every task; until
// then a query reports the task's last known state.

// Starts the engine process; nonzero when it answered the handshake, or is still starting
// after 2 s. 0 when it cannot be started at all.
int32_t DL_Init(void);
// Starts the engine process from FOLDER/dlhost from now on, instead of from "DownLoad/" beside
// this library: a program that may not write its own folder releases the engine's files
// elsewhere. Call it before DL_Init. 1 when taken, 0 for a null or empty folder.
int32_t DL_SetHostFolder(const char* folder);
// Creates a stopped task from a TaskCreateParams block; returns its handle (positive, never
// reused within a run), or 0 when params is null.
int32_t DL_CreateTask(const void* params);
// Starts or resumes a task, or tries a failed one again. 1 when the task exists.
int32_t DL_StartTask(int32_t handle);
// Overwrites the TaskStatusInfo block at info (1429 bytes). 1 when the task exists.
int32_t DL_QueryTaskInfoEx(int32_t handle, void* info);
// Stops the transfer; files and progress stay. 1 when the task exists.
int32_t DL_StopTask(int32_t handle);
// Stops the task, forgets the handle and releases its files. 1 when the task existed.
int32_t DL_DeleteTask(int32_t handle);

#ifdef __cplusplus
}

static_assert(sizeof(TaskCreateParams) == 26564);
static_assert(offsetof(TaskCreateParams, nReserved) == 0);
static_assert(offsetof(TaskCreateParams, szTaskUrl) == 4);
static_assert(offsetof(TaskCreateParams, szRefUrl) == 4172);
static_assert(offsetof(TaskCreateParams, szCookies) == 8340);
static_assert(offsetof(TaskCreateParams, szFilename) == 16532);
static_assert(offsetof(TaskCreateParams, szReserved0) == 17052);
static_assert(offsetof(TaskCreateParams, szSavePath) == 17572);
static_assert(offsetof(TaskCreateParams, hReserved) == 18092);
static_assert(offsetof(TaskCreateParams, bReserved) == 18096);
static_assert(offsetof(TaskCreateParams, szReserved1) == 18100);
static_assert(offsetof(TaskCreateParams, szReserved2) == 18228);
static_assert(offsetof(TaskCreateParams, IsOnlyOriginal) == 18356);
static_assert(offsetof(TaskCreateParams, nReserved1) == 18360);
static_assert(offsetof(TaskCreateParams, DisableAutoRename) == 18364);
static_assert(offsetof(TaskCreateParams, IsResume) == 18368);
static_assert(offsetof(TaskCreateParams, reserved) == 18372);

static_assert(sizeof(TaskStatusInfo) == 1429);
static_assert(offsetof(TaskStatusInfo, stat) == 0);
static_assert(offsetof(TaskStatusInfo, fail_code) == 4);
static_assert(offsetof(TaskStatusInfo, szFilename) == 8);
static_assert(offsetof(TaskStatusInfo, szReserved0) == 528);
static_assert(offsetof(TaskStatusInfo, nTotalSize) == 1048);
static_assert(offsetof(TaskStatusInfo, nTotalDownload) == 1056);
static_assert(offsetof(TaskStatusInfo, fPercent) == 1064);
static_assert(offsetof(TaskStatusInfo, nReserved0) == 1068);
static_assert(offsetof(TaskStatusInfo, nSrcTotal) == 1072);
static_assert(offsetof(TaskStatusInfo, nSrcUsing) == 1076);
static_assert(offsetof(TaskStatusInfo, nReserved1) == 1080);
static_assert(offsetof(TaskStatusInfo, nReserved2) == 1084);
static_assert(offsetof(TaskStatusInfo, nReserved3) == 1088);
static_assert(offsetof(TaskStatusInfo, nReserved4) == 1092);
static_assert(offsetof(TaskStatusInfo, nReserved5) == 1096);
static_assert(offsetof(TaskStatusInfo, nDonationP2P) == 1104);
static_assert(offsetof(TaskStatusInfo, nReserved6) == 1112);
static_assert(offsetof(TaskStatusInfo, nDonationOrgin) == 1120);
static_assert(offsetof(TaskStatusInfo, nDonationP2S) == 1128);
static_assert(offsetof(TaskStatusInfo, nReserved7) == 1136);
static_assert(offsetof(TaskStatusInfo, nReserved8) == 1144);
static_assert(offsetof(TaskStatusInfo, nSpeed) == 1152);
static_assert(offsetof(TaskStatusInfo, nSpeedP2S) == 1156);
static_assert(offsetof(TaskStatusInfo, nSpeedP2P) == 1160);
static_assert(offsetof(TaskStatusInfo, bIsOriginUsable) == 1164);
static_assert(offsetof(TaskStatusInfo, fHashPercent) == 1165);
static_assert(offsetof(TaskStatusInfo, IsCreatingFile) == 1169);
static_assert(offsetof(TaskStatusInfo, reserved) == 1173);
#endif
