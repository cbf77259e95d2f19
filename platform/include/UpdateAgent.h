#pragma once

// Boundary of the update-agent library. The records and classes here cross into a
// separately built library, so their layout and virtual-slot order are fixed.

#include <cstddef>
#include <cstring>

enum _UpdateMode : int {
    UPDATE_MODE_MANUAL = 1,
};

enum CheckVersionState : int {
    CHECKVERSION_STATE_LOCALVERSION = 1,
    CHECKVERSION_STATE_ISLASTESTVERSION = 2,
    CHECKVERSION_STATE_DOWNLOADING = 3,
    CHECKVERSION_STATE_DOWNLOADING_SUCCESS = 4,
    CHECKVERSION_STATE_DOWNLOADING_FAILED = 5,
    CHECKVERSION_STATE_DOWNLOADING_REFUSE = 6,
    CHECKVERSION_STATE_NO_DOWNLOADING = 7,
};

// The client identity sent with the version check: eight NUL-terminated 8-bit
// strings of 64 bytes each.
struct _CLIENT_INFO {
    static constexpr std::size_t FieldSize = 64;

    char os[FieldSize];
    char device[FieldSize];
    char softwareVersion[FieldSize];
    char firmwareVersion[FieldSize];
    char imei[FieldSize];
    char clientGroup[FieldSize];
    char language[FieldSize];
    char reserved[FieldSize];

    _CLIENT_INFO() { std::memset(this, 0, sizeof(*this)); }
    _CLIENT_INFO(const _CLIENT_INFO& other) { *this = other; }
    _CLIENT_INFO& operator=(const _CLIENT_INFO& other)
    {
        if (this != &other) {
            std::memset(this, 0, sizeof(*this));
            copyField(os, other.os);
            copyField(device, other.device);
            copyField(softwareVersion, other.softwareVersion);
            copyField(firmwareVersion, other.firmwareVersion);
            copyField(imei, other.imei);
            copyField(clientGroup, other.clientGroup);
            copyField(language, other.language);
            copyField(reserved, other.reserved);
        }
        return *this;
    }

    // Copies at most 63 bytes of value and always terminates the field.
    static void copyField(char (&field)[FieldSize], const char* value)
    {
        std::size_t n = 0;
        while (n + 1 < FieldSize && value[n] != '\0') {
            field[n] = value[n];
            ++n;
        }
        std::memset(field + n, 0, FieldSize - n);
    }
};
static_assert(sizeof(_CLIENT_INFO) == 512);

// Implemented by the updater; the library calls it from its own worker thread.
class CMUpdaterInterface {
public:
    virtual ~CMUpdaterInterface() = default;
    virtual void HaveNewVsersion() = 0;
    virtual void SetNowDownloadStatus(CheckVersionState state) = 0;
    virtual void DownloadFinished(bool ok) = 0;
    virtual void DownloadProcess(char* filename, int percent) = 0;
};

// Implemented by the library. Update and Download return at once; their
// outcome arrives through CMUpdaterInterface.
class UpdateAgentInterface {
public:
    virtual ~UpdateAgentInterface() = default;
    virtual bool SetFilePath(char* configPath) = 0;
    virtual bool Init() = 0;
    virtual bool Update(_UpdateMode mode, _CLIENT_INFO client) = 0;
    virtual bool Download() = 0;
    virtual bool StopDownload() = 0;
    virtual bool RefuseDownload() = 0;
};

UpdateAgentInterface* GetUpdateAgentInterface();
void RegisterCMUpdaterInterface(CMUpdaterInterface* callbacks);
void UnInit();
