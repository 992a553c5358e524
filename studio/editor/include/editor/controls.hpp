#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <project/user_block.hpp>

namespace torvik::studio {

// The list itself (kControls) is the project's: the user block and its reader name controls by it.

/// The control number at a list position; -1 (no control) outside the list.
std::int32_t ControlNumberAt(std::size_t position);
/// The control number of a name of the list ("Potentiometer 1"); nothing for another text.
std::optional<std::int32_t> ControlNumberOf(const std::wstring& name);
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
