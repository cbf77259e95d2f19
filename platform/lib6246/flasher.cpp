#include "flasher.h"

#include <algorithm>
#include <fstream>

namespace flash {
namespace {

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
};
constexpr int32_t kCommitProgress = 98;

} // namespace

Flasher::Flasher(const _IDownloadEvent& events, std::chrono::milliseconds ackTimeout)
    : events_(events), link_(events, ackTimeout)
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
    const bool flashed =
        runSteps(kPreparation) && sendFiles(files) && runSteps(kCompletion) && commit();
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
        auto reply = link_.request(step.request, std::move(payload));
        if (!reply.acked())
            return fail(step.failure);
        if (step.request == FrameType::NvBackup)
            nvItems_ = std::move(reply.payload);
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
    const FileHeader header{file.size, file.name};
    if (!link_.request(FrameType::FileBegin, encodeFileHeader(header)).acked())
        return Status::DownVerFailed;
    digest_.addFile(header);
    std::vector<uint8_t> chunk;
    for (uint64_t left = file.size; left > 0; left -= chunk.size()) {
        chunk.resize(std::min<uint64_t>(left, kDataChunk));
        if (!in.read(reinterpret_cast<char*>(chunk.data()),
                     static_cast<std::streamsize>(chunk.size())))
            return Status::OpenFileFailed;
        if (!link_.request(FrameType::FileData, chunk).acked())
            return Status::DownVerFailed;
        digest_.addData(chunk);
        advance(chunk.size());
    }
    if (!link_.request(FrameType::FileEnd, {}).acked())
        return Status::DownVerFailed;
    advance(1);
    return std::nullopt;
}

bool Flasher::commit()
{
    progress_ = kCommitProgress;
    report(Status::OpenAutorun);
    const Link::Reply reply = link_.request(FrameType::Commit, digest_.value());
    // A refusal means the image that arrived is not the one sent: the modem
    // keeps its old one.
    if (reply.answer == Link::Answer::Nak)
        return fail(Status::DownVerFailed);
    if (reply.acked() || modemHoldsImage())
        return true;
    return fail(Status::RestartFailed);
}

// The commit's confirmation was lost; the modem knows which image it holds.
bool Flasher::modemHoldsImage()
{
    const Link::Reply reply = link_.request(FrameType::ImageQuery, {});
    return reply.acked() && reply.payload == digest_.value();
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
