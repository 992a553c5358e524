#include <app/settings_form.hpp>

#include <algorithm>
#include <exception>

#include <platform/ports.hpp>
#include <platform/text.hpp>

namespace torvik::studio::app {

SettingsForm::SettingsForm(const Settings& settings)
    : downloadAddress(settings.updateAddress),
      automatic_(settings.autoNotManual != 0),
      storedPort_(settings.manualComPort),
      typedPath_(settings.manualComPortPath)
{
    if (!automatic_) {
        FillPorts();
    }
}

void SettingsForm::ChooseAutomatic()
{
    automatic_ = true;
}

void SettingsForm::ChooseManual()
{
    automatic_ = false;
    FillPorts();
}

void SettingsForm::FillPorts()
{
    // The ports with a COM name, in COM order, as the device windows choose among them.
    std::vector<platform::PortInfo> found;
    try {
        for (auto& port : platform::ListSerialPorts()) {
            if (port.com_number > 0) {
                found.push_back(std::move(port));
            }
        }
    } catch (const std::exception&) {
        return;  // the list stays as it is
    }
    const int remembered = selection_ >= 0 ? ports_[static_cast<std::size_t>(selection_)].comPort : storedPort_;
    ports_.clear();
    selection_ = -1;
    int known = -1;
    for (const auto& port : found) {
        std::wstring label = L"COM" + std::to_wstring(port.com_number);
        const std::wstring description = platform::FromUtf8(port.description);
        if (!description.empty()) {
            label += L" - " + description;
            if (known < 0) {
                known = static_cast<int>(ports_.size());
            }
        }
        if (typedPath_.empty() && port.com_number == remembered && selection_ < 0) {
            selection_ = static_cast<int>(ports_.size());
        }
        ports_.push_back({std::move(label), port.com_number});
    }
    filled_ = true;
    // A port typed as a path stays what the list shows; else the first port with a known adapter, else
    // the first port.
    if (selection_ < 0 && typedPath_.empty() && !ports_.empty()) {
        selection_ = std::max(known, 0);
    }
}

void SettingsForm::Select(int index)
{
    if (index >= 0 && static_cast<std::size_t>(index) < ports_.size()) {
        selection_ = index;
        typedPath_.clear();
    } else {
        selection_ = -1;
    }
}

std::wstring SettingsForm::PortText() const
{
    return selection_ >= 0 ? ports_[static_cast<std::size_t>(selection_)].label : typedPath_;
}

void SettingsForm::TypePort(const std::wstring& text)
{
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        if (ports_[i].label == text) {
            Select(static_cast<int>(i));
            return;
        }
    }
    selection_ = -1;
    typedPath_ = text;
}

void SettingsForm::Confirm(Settings& settings) const
{
    settings.autoNotManual = automatic_ ? 1 : 0;
    settings.updateAddress = downloadAddress;
    if (!filled_) {
        return;
    }
    settings.manualComPort = selection_ >= 0 ? ports_[static_cast<std::size_t>(selection_)].comPort : 0;
    settings.manualComPortPath = selection_ >= 0 ? std::wstring() : typedPath_;
}

}  // namespace torvik::studio::app
