#include <project/ts_project.hpp>

#include <filesystem>

#include <platform/profile.hpp>
#include <platform/text.hpp>

namespace torvik::studio {

using kq::dbclib::Dbc_AttributeSpec;

std::wstring SetupName(std::uint32_t code)
{
    switch (code) {
    case kSetupHs500:
        return L"HS 500 kBd, 80 to 83.3 %";
    case kSetupFd500:
        return L"FD 500/500 kBd, 80/80 %";
    case kSetupFd1000:
        return L"FD 500/1,000 kBd, 80/70 %";
    case kSetupFd2000:
        return L"FD 500/2,000 kBd, 80/70 %";
    default:
        return {};
    }
}

TS_Project::TS_Project() : userBlock_(kUserBlockCapacity, 0) {}

TS_Project::~TS_Project() = default;

int TS_Project::AddDatabase(Prompt& prompt, const std::wstring& path)
{
    auto database = std::make_unique<TS_DatabaseFile>();
    if (database->Load(path) != 0) {
        prompt.ShowInformation(L"The selected database cannot be loaded.");
        return -1;
    }
    const std::wstring name = database->GetName();
    if (!AppendDatabase(std::move(database))) {
        prompt.ShowInformation(L"This project already contains database named " + name + L".");
        return -1;
    }
    return static_cast<int>(databases_.size() - 1);
}

bool TS_Project::AppendDatabase(std::unique_ptr<TS_DatabaseFile> database)
{
    if (!database || FindDatabase(database->GetName()) >= 0) {
        return false;
    }
    databases_.push_back(std::move(database));
    modified_ = true;
    return true;
}

bool TS_Project::ReplaceDatabase(std::size_t index, std::unique_ptr<TS_DatabaseFile> database)
{
    if (index >= databases_.size() || !database) {
        return false;
    }
    databases_[index] = std::move(database);
    modified_ = true;
    return true;
}

bool TS_Project::RemoveDatabase(std::size_t index, bool unselect)
{
    if (index >= databases_.size()) {
        return false;
    }
    if (unselect) {
        for (auto& [id, message] : databases_[index]->network->messages) {
            message->channelMask = 0;
        }
    }
    databases_.erase(databases_.begin() + static_cast<std::ptrdiff_t>(index));
    modified_ = true;
    return true;
}

TS_DatabaseFile* TS_Project::GetDatabase(std::size_t index) const
{
    return index < databases_.size() ? databases_[index].get() : nullptr;
}

int TS_Project::FindDatabase(const std::wstring& name) const
{
    for (std::size_t i = 0; i < databases_.size(); ++i) {
        if (databases_[i]->GetName() == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool TS_Project::HasSelectedMessages(std::size_t index) const
{
    if (index >= databases_.size()) {
        return false;
    }
    for (const auto& [id, message] : databases_[index]->network->messages) {
        if (message->channelMask != 0) {
            return true;
        }
    }
    return false;
}

TS_Project::ChannelSetupChange TS_Project::SetChannelSetup(std::uint32_t channel, std::int32_t code,
                                                           std::uint32_t defaultCode)
{
    auto [it, added] = channelSetups_.try_emplace(channel, defaultCode);
    const std::uint32_t previous = it->second;
    if (code == -1) {
        return {previous, false};
    }
    const auto next = static_cast<std::uint32_t>(code);
    it->second = next;
    if (next == previous) {
        return {previous, false};
    }
    modified_ = true;
    const auto classic = [](std::uint32_t c) { return c == 2 || c == 3; };
    return {previous, classic(previous) != classic(next)};
}

void TS_Project::GiveChannelsTheirSetups()
{
    for (const std::uint32_t channel : {3u, 4u}) {
        SetChannelSetup(channel, -1, kSetupFd2000);
    }
}

bool TS_Project::IsFdChannel(std::uint32_t channel) const
{
    const auto it = channelSetups_.find(channel);
    return it == channelSetups_.end() || (it->second != 2 && it->second != 3);
}

bool TS_Project::IsCanFdMessage(const TS_Message& message)
{
    const int format = message.GetEnumAttributeValue(L"VFrameFormat", nullptr, true);
    return format == 14 || format == 15;
}

bool TS_Project::MayUseChannel(const TS_Message& message, std::uint32_t channel) const
{
    if (channel < 1 || channel > 4) {
        return false;
    }
    return !IsCanFdMessage(message) || (channel >= 3 && IsFdChannel(channel));
}

bool TS_Project::HasCanFdMessageOn(std::uint32_t channel) const
{
    if (channel < 1 || channel > 4) {
        return false;
    }
    const auto bit = static_cast<std::uint8_t>(1u << (channel - 1));
    for (const auto& database : databases_) {
        for (const auto& [id, message] : database->network->messages) {
            if ((message->channelMask & bit) != 0 && IsCanFdMessage(*message)) {
                return true;
            }
        }
    }
    return false;
}

bool TS_Project::CheckCycleTime(Prompt& prompt, TS_Message& message, bool* answeredYes)
{
    if (message.GetIntAttributeValue(L"GenMsgCycleTime", nullptr, true) != 0) {
        return true;
    }
    if (answeredYes == nullptr || !*answeredYes) {
        const std::wstring ms = std::to_wstring(kDefaultCycleTimeMs);
        const std::wstring question =
            answeredYes == nullptr
                ? L"The selected message (" + message.name +
                      L") has cycle time zero. Sending such message is not supported. Yould you like to set "
                      L"its cycle time to " + ms + L" ms?"
                : L"Some of the selected messages have cycle time zero. Sending such messages is not "
                  L"supported. Yould you like to set theirs cycle time to " + ms + L" ms?";
        if (!prompt.AskOkCancel(question)) {
            return false;
        }
        if (answeredYes != nullptr) {
            *answeredYes = true;
        }
    }
    const auto existing = message.attributeOverrides.find(L"GenMsgCycleTime");
    if (existing != message.attributeOverrides.end()) {
        if (auto value = std::dynamic_pointer_cast<Dbc_AttributeSpec<int>>(existing->second)) {
            value->value = kDefaultCycleTimeMs;
            return true;
        }
    }
    std::shared_ptr<kq::dbclib::Dbc_AttributeDef> definition;
    if (message.definitions) {
        if (const auto def = message.definitions->find(L"GenMsgCycleTime"); def != message.definitions->end()) {
            definition = def->second;
        }
    }
    message.attributeOverrides[L"GenMsgCycleTime"] =
        std::make_shared<Dbc_AttributeSpec<int>>(definition, kDefaultCycleTimeMs);
    return true;
}

void TS_Project::SetProjectPath(const std::wstring& path)
{
    projectPath_ = path;
    // The stem of the last component, whichever separator the path uses.
    const auto slash = path.find_last_of(L"/\\");
    std::wstring file = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const auto dot = file.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0) {
        file.erase(dot);
    }
    projectName_ = file;
}

}  // namespace torvik::studio
