#pragma once

#include <cstdint>

namespace flash {

// The codes reported through onProgress that this flasher uses.
enum class Status : int32_t {
    Downloading = 0,
    EnterDownloadMode = 1,
    CloseAutorun = 2,
    BackupNv = 4,
    SwitchToDownloadMode = 5,
    DownloadVersionFile = 11,
    RestoreNv = 14,
    CloseDownloadMode = 15,
    OpenAutorun = 16,
    DownloadFailed = 17,
    DownloadSucceeded = 18,
    NoDevice = 19,
    OpenFileFailed = 20,
    BackupNvFailed = 22,
    SwitchDownFailed = 23,
    DeviceFailed = 24,
    DownVerFailed = 27,
    RestartFailed = 28,
    RestoreFailed = 29,
};

} // namespace flash
