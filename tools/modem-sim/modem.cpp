#include "modem.h"

using flash::Frame;
using flash::FrameType;

namespace {

constexpr std::size_t kNvSize = 512;

std::vector<uint8_t> factoryNvItems()
{
    std::vector<uint8_t> items(kNvSize);
    for (std::size_t i = 0; i < items.size(); ++i)
        items[i] = static_cast<uint8_t>(i * 31 + 7);
    return items;
}

} // namespace

Modem::Modem(ImageStore& store) : store_(store), nvItems_(factoryNvItems()) {}

Frame Modem::answer(const Frame& request)
{
    if (lastAck_ && lastAck_->seq == request.seq)
        return *lastAck_;
    std::vector<uint8_t> reply;
    if (const auto refusal = apply(request, reply))
        return Frame{FrameType::Nak, request.seq,
                     std::vector<uint8_t>(refusal->begin(), refusal->end())};
    lastAck_ = Frame{FrameType::Ack, request.seq, std::move(reply)};
    return *lastAck_;
}

std::optional<std::string> Modem::apply(const Frame& request, std::vector<uint8_t>& reply)
{
    switch (request.type) {
    case FrameType::Hello:
    case FrameType::AutorunOff:
        return std::nullopt;
    case FrameType::NvBackup:
        reply = nvItems_;
        return std::nullopt;
    case FrameType::SwitchDownload:
        // A new flash: whatever an earlier, broken one left aside is dropped.
        store_.discard();
        received_.emplace();
        downloadMode_ = true;
        return std::nullopt;
    case FrameType::FileBegin:
    case FrameType::FileData:
    case FrameType::FileEnd:
        return downloadMode_ ? applyFileRequest(request) : "not in download mode";
    case FrameType::NvRestore:
        if (request.payload != nvItems_)
            return "NV items differ from the backup";
        return std::nullopt;
    case FrameType::CloseDownload:
        store_.abandon();
        downloadMode_ = false;
        return std::nullopt;
    case FrameType::Commit:
        return commit(request.payload);
    case FrameType::ImageQuery:
        reply = imageDigest_;
        return std::nullopt;
    case FrameType::Ack:
    case FrameType::Nak:
        break;
    }
    return "unknown request";
}

std::optional<std::string> Modem::applyFileRequest(const Frame& request)
{
    if (request.type == FrameType::FileBegin)
        return beginFile(request);
    if (!store_.receiving())
        return "no file begun";
    if (request.type == FrameType::FileData) {
        if (!store_.write(request.payload))
            return "cannot write the file";
        received_->addData(request.payload);
    }
    if (request.type == FrameType::FileEnd && !store_.finish())
        return "file incomplete or not stored";
    return std::nullopt;
}

std::optional<std::string> Modem::beginFile(const Frame& request)
{
    const auto header = flash::decodeFileHeader(request.payload);
    if (!header)
        return "bad file header";
    if (!isSafeRelativeName(header->name))
        return "unsafe file name";
    if (!store_.begin(header->name, header->size))
        return "cannot create the file";
    received_->addFile(*header);
    return std::nullopt;
}

std::optional<std::string> Modem::commit(const std::vector<uint8_t>& digest)
{
    if (downloadMode_ || !received_)
        return "still in download mode";
    const bool whole = digest == received_->value();
    received_.reset();
    if (!whole) {
        store_.discard();
        return "image digest differs";
    }
    if (!store_.commit())
        return "cannot commit the image";
    imageDigest_ = digest;
    finished_ = true;
    return std::nullopt;
}
