#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace torvik::studio {

/// One entry of the "Dynamic control" list: the name shown and the control number stored in the project
/// and sent to the device (-1: no control).
struct ControlEntry {
    const wchar_t* name;
    std::int32_t number;
};

/// The device's controls in the order of the list.
extern const std::array<ControlEntry, 31> kControls;

/// The control number at a list position; -1 (no control) outside the list.
std::int32_t ControlNumberAt(std::size_t position);
/// The list position of a control number; 0 ("No control") for a number the device lacks.
std::size_t ControlPositionOf(std::int32_t number);

/// The names of a control's positions: the end, start and middle value of a driven signal. Empty for a
/// number without positions; `middle` is empty for controls with two positions.
struct ControlLabels {
    std::wstring end;
    std::wstring start;
    std::wstring middle;
};
ControlLabels LabelsOf(std::int32_t number);

}  // namespace torvik::studio
