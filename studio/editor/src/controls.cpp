#include <editor/controls.hpp>

namespace torvik::studio {

std::int32_t ControlNumberAt(std::size_t position)
{
    return position < kControls.size() ? kControls[position].number : -1;
}

std::optional<std::int32_t> ControlNumberOf(const std::wstring& name)
{
    for (const ControlEntry& control : kControls) {
        if (name == control.name) {
            return control.number;
        }
    }
    return std::nullopt;
}

std::size_t ControlPositionOf(std::int32_t number)
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (kControls[i].number == number) {
            return i;
        }
    }
    return 0;
}

ControlLabels LabelsOf(std::int32_t number)
{
    if (number >= 0 && number <= 5) {
        return {L"Potentiometer max", L"Potentiometer min", {}};
    }
    if (number == 6 || number == 7) {
        return {L"Voltage cosi max", L"Voltage cosi min", {}};
    }
    if (number == 8 || number == 9) {
        return {L"Logical one", L"Logical zero", {}};
    }
    if (number >= 10 && number <= 13) {
        // Switches 1 and 4 have a middle position.
        return {L"Switch up", L"Switch down", number == 10 || number == 13 ? L"Switch middle" : L""};
    }
    if (number >= 14 && number <= 17) {
        return {L"Random max", L"Random min", {}};
    }
    if (number >= 18 && number <= 29) {
        return {L"Position ON", L"Position OFF", {}};
    }
    return {};
}

}  // namespace torvik::studio
