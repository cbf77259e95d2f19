#include "requests.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

using flash::FrameType;

constexpr std::array<std::pair<FrameType, std::string_view>, 11> kRequests = {{
    {FrameType::Hello, "hello"},
    {FrameType::AutorunOff, "autorun-off"},
    {FrameType::NvBackup, "nv-backup"},
    {FrameType::SwitchDownload, "switch"},
    {FrameType::FileBegin, "file-begin"},
    {FrameType::FileData, "file-data"},
    {FrameType::FileEnd, "file-end"},
    {FrameType::NvRestore, "nv-restore"},
    {FrameType::CloseDownload, "close"},
    {FrameType::Commit, "commit"},
    {FrameType::ImageQuery, "query"},
}};

} // namespace

std::string_view frameTypeName(FrameType type)
{
    if (type == FrameType::Ack)
        return "ack";
    if (type == FrameType::Nak)
        return "nak";
    const auto known = std::find_if(kRequests.begin(), kRequests.end(),
                                    [type](const auto& request) { return request.first == type; });
    return known != kRequests.end() ? known->second : "unknown";
}

std::optional<FrameType> requestByName(std::string_view name)
{
    const auto known = std::find_if(kRequests.begin(), kRequests.end(),
                                    [name](const auto& request) { return request.second == name; });
    if (known == kRequests.end())
        return std::nullopt;
    return known->first;
}

std::vector<std::string_view> requestNames()
{
    std::vector<std::string_view> names;
    for (const auto& request : kRequests)
        names.push_back(request.second);
    return names;
}
