#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame.h"
#include "store.h"

// The modem's side of the flashing protocol: answers each request, keeps its NV
// items, and takes the files it is sent as its image once their digest matches.
class Modem final {
public:
    explicit Modem(ImageStore& store);

    // Ack or Nak. A repeat of the request acknowledged last gets the same answer
    // without being applied twice.
    flash::Frame answer(const flash::Frame& request);
    // The flash has run through to its commit.
    bool finished() const { return finished_; }

private:
    // The reason for refusing the request, nothing once it is applied.
    std::optional<std::string> apply(const flash::Frame& request, std::vector<uint8_t>& reply);
    std::optional<std::string> applyFileRequest(const flash::Frame& request);
    std::optional<std::string> beginFile(const flash::Frame& request);
    std::optional<std::string> commit(const std::vector<uint8_t>& digest);

    ImageStore& store_;
    std::vector<uint8_t> nvItems_;
    std::optional<flash::ImageDigest> received_; // of this flash's files, from its start
    std::vector<uint8_t> imageDigest_;           // of the image committed, once there is one
    bool downloadMode_ = false;
    bool finished_ = false;
    std::optional<flash::Frame> lastAck_;
};
