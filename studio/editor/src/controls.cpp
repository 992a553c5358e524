#include <editor/controls.hpp>

namespace torvik::studio {

const std::array<ControlEntry, 31> kControls = {{
    {L"No control", -1},        {L"Potentiometer 1", 5},   {L"Potentiometer 2", 4},
    {L"Potentiometer 3", 0},    {L"Potentiometer 4", 1},   {L"Potentiometer 5", 2},
    {L"Potentiometer 6", 3},    {L"Voltage 1", 6},         {L"Voltage 2", 7},
    {L"Digital input 1", 8},    {L"Digital input 2", 9},   {L"Switch 1", 10},
    {L"Switch 2", 11},          {L"Switch 3", 12},         {L"Switch 4", 13},
    {L"Random 1", 14},          {L"Random 2", 15},         {L"Random 3", 16},
    {L"Random 4", 17},          {L"DIP switch 1", 18},     {L"DIP switch 2", 19},
    {L"DIP switch 3", 20},      {L"DIP switch 4", 21},     {L"DIP switch 5", 22},
    {L"DIP switch 6", 23},      {L"DIP switch 7", 24},     {L"DIP switch 8", 25},
    {L"DIP switch 9", 26},      {L"DIP switch 10", 27},    {L"DIP switch 11", 28},
    {L"DIP switch 12", 29},
}};

std::int32_t ControlNumberAt(std::size_t position)
{
    return position < kControls.size() ? kControls[position].number : -1;
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
