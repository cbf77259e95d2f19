#include "flasher.h"

#include <algorithm>
#include <fstream>

namespace flash {
namespace {

constexpr int kTries = 3;

// The progress runs to 10 while the modem is prepared, from 10 to 90 over the
// files, and on to 100 while the modem is put back.
constexpr int32_t kFilesStart = 10;
constexpr int32_t kFilesSpan = 80;
constexpr int32_t kComplete = 100;

constexpr Flasher::Step kPreparation[] = {
    {FrameType::Hello, Status::EnterDownloadMode, Status::DeviceFailed, 1},
    {FrameType::AutorunOff, Status::CloseAutorun, Status::DeviceFailed, 3},
    {FrameType::NvBackup, Status::BackupNv, Status::BackupNvFailed, 5},
    {FrameType::SwitchDownload, Status::SwitchToDownloadMode, Status::SwitchDownFailed, 8},
};

constexpr Flasher::Step kCompletion[] = {
    {FrameType::NvRestore, Status::RestoreNv, Status::RestoreFailed, 92},
    {FrameType::CloseDownload, Status::CloseDownloadMode, Status::RestartFailed, 95},
    {FrameType::AutorunOn, Status::OpenAutorun, Status::RestartFailed, 98},
};

} // namespace

Flasher::Flasher(const _IDownloadEvent& events, std::chrono::milliseconds ackTimeout)
    : events_(events), link_(events, ackTimeout, kTries)
{
}

bool Flasher::run(const std::filesystem::path& imageDir)
{
    const auto files = listImage(imageDir);
    if (files.empty())
        return fail(Status::OpenFileFailed);
    if (!link_.open())
        return fail(Status::NoDevice);
    report(Status::Downloading);
    const bool flashed = runSteps(kPreparation) && sendFiles(files) && runSteps(kCompletion);
    link_.close();
    if (flashed) {
        progress_ = kComplete;
        report(Status::DownloadSucceeded);
    }
    return flashed;
}

bool Flasher::runSteps(std::span<const Step> steps)
{
    for (const Step& step : steps) {
        progress_ = step.progress;
        report(step.status);
        auto payload = step.request == FrameType::NvRestore ? nvItems_ : std::vector<uint8_t>{};
        auto answer = link_.request(step.request, std::move(payload));
        if (!answer)
            return fail(step.failure);
        if (step.request == FrameType::NvBackup)
            nvItems_ = std::move(*answer);
    }
    return true;
}

bool Flasher::sendFiles(const std::vector<ImageFile>& files)
{
    // One unit per byte and one per file, so that empty files move the bar too.
    unitsTotal_ = 0;
    for (const ImageFile& file : files)
        unitsTotal_ += file.size + 1;
    progress_ = kFilesStart;
    for (const ImageFile& file : files) {
        if (const auto failure = sendFile(file))
            return fail(*failure);
    }
    return true;
}

std::optional<Status> Flasher::sendFile(const ImageFile& file)
{
    std::ifstream in(file.path, std::ios::binary);
    if (!in || file.name.size() > kMaxNameLength)
        return Status::OpenFileFailed;
    report(Status::DownloadVersionFile);
    if (!link_.request(FrameType::FileBegin, encodeFileHeader({file.size, file.name})))
        return Status::DownVerFailed;
    std::vector<uint8_t> chunk;
    for (uint64_t left = file.size; left > 0; left -= chunk.size()) {
        chunk.resize(std::min<uint64_t>(left, kDataChunk));
        if (!in.read(reinterpret_cast<char*>(chunk.data()),
                     static_cast<std::streamsize>(chunk.size())))
            return Status::OpenFileFailed;
        if (!link_.request(FrameType::FileData, chunk))
            return Status::DownVerFailed;
        advance(chunk.size());
    }
    if (!link_.request(FrameType::FileEnd, {}))
        return Status::DownVerFailed;
    advance(1);
    return std::nullopt;
}

void Flasher::advance(uint64_t units)
{
    unitsDone_ += units;
    progress_ = kFilesStart + static_cast<int32_t>(kFilesSpan * unitsDone_ / unitsTotal_);
    report(Status::DownloadVersionFile);
}

void Flasher::report(Status status)
{
    // Reports that would change nothing on screen are left out.
    if (status == lastStatus_ && progress_ == lastProgress_)
        return;
    lastStatus_ = status;
    lastProgress_ = progress_;
    _PDLData data{0, 0, static_cast<int32_t>(status), progress_};
    events_.onProgress(&data);
}

bool Flasher::fail(Status failure)
{
    report(failure);
    report(Status::DownloadFailed);
    return false;
}

} // namespace flash
