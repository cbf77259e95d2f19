#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "image.h"
#include "lib6246.h"
#include "link.h"
#include "status.h"

namespace flash {

// One flash: puts the modem into download mode around the image's files, has
// it take them as a whole, and reports each stage through onProgress.
class Flasher final {
public:
    struct Step {
        FrameType request;
        Status status;
        Status failure;
        int32_t progress;
    };

    Flasher(const _IDownloadEvent& events, std::chrono::milliseconds ackTimeout);

    bool run(const std::filesystem::path& imageDir);

private:
    bool runSteps(std::span<const Step> steps);
    bool sendFiles(const std::vector<ImageFile>& files);
    // The failure code, nothing when the file went through.
    std::optional<Status> sendFile(const ImageFile& file);
    // Has the modem take the image it received, once the digests match.
    bool commit();
    bool modemHoldsImage();
    void advance(uint64_t units);
    void report(Status status);
    bool fail(Status failure);

    const _IDownloadEvent& events_;
    Link link_;
    ImageDigest digest_;
    std::vector<uint8_t> nvItems_;
    int32_t progress_ = 0;
    uint64_t unitsDone_ = 0;
    uint64_t unitsTotal_ = 0;
    Status lastStatus_ = Status::Downloading;
    int32_t lastProgress_ = -1;
};

} // namespace flash
