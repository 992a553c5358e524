#include <device/device_message.hpp>

#include <algorithm>

#include <device/device_session.hpp>

namespace torvik::studio {

bool DeviceOutcome::Succeeded() const
{
    return std::none_of(messages.begin(), messages.end(),
                        [](const DeviceMessage& m) { return m.kind != DeviceMessage::Kind::Information; });
}

std::string OneLine(const DeviceMessage& message)
{
    return message.detail.empty() ? message.text : message.text + " (" + message.detail + ")";
}

std::string OneLine(const DeviceOutcome& outcome)
{
    std::string line;
    std::string detail;
    for (const auto& message : outcome.messages) {
        line += (line.empty() ? "" : " ") + message.text;
        if (detail.empty()) {
            detail = message.detail;
        }
    }
    return OneLine(DeviceMessage{DeviceMessage::Kind::Information, line, detail});
}

void AsOpeningFailure(DeviceOutcome& outcome, const std::string& openFailure)
{
    const std::string detail = outcome.messages.empty() ? std::string() : outcome.messages.front().detail;
    outcome.messages = {{DeviceMessage::Kind::Error, openFailure, detail}};
}

bool RestartAfterSet(DeviceSession& session, const std::string& whatWasSet, DeviceOutcome& outcome)
{
    try {
        session.RestartAndConfirm();
        return true;
    } catch (const DeviceError& e) {
        outcome.messages.push_back({DeviceMessage::Kind::Error, "Can't restart Torvik4 device.", whatWasSet + "; " + e.what()});
        return false;
    }
}

std::unique_ptr<DeviceSession> OpenUtilitySession(const std::string& port, const std::string& failureText,
                                                  DeviceMessage& failure)
{
    constexpr std::uint32_t kTimeoutMs = 1000;
    if (port.empty()) {
        failure = {DeviceMessage::Kind::Error, failureText, "no port is chosen"};
        return nullptr;
    }
    try {
        return std::make_unique<DeviceSession>(port, kTimeoutMs);
    } catch (const DeviceError& e) {
        failure = {DeviceMessage::Kind::Error, failureText, e.what()};
        return nullptr;
    }
}

}  // namespace torvik::studio
