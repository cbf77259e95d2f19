#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "frame.h"

// The names of the frame types on the command line and in the log.
std::string_view frameTypeName(flash::FrameType type);
std::optional<flash::FrameType> requestByName(std::string_view name);
// The request names in the order of a flash.
std::vector<std::string_view> requestNames();
