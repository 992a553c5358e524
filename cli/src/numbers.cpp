// Numbers as every command takes and shows them.
#include <charconv>
#include <string>
#include <vector>

#include "commands.hpp"

namespace torvik::cli {

std::uint32_t ParseNumber(const std::string& text, const char* what, std::uint32_t max)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (first == last || error != std::errc() || end != last || value > max) {
        throw CommandError(std::string("invalid ") + what + " '" + text + "' (0 to " + std::to_string(max) + ")");
    }
    return value;
}

// "0-27, 29" from a sorted list of sectors.
std::string Ranges(const std::vector<int>& sectors)
{
    std::string out;
    for (std::size_t i = 0; i < sectors.size();) {
        std::size_t j = i;
        while (j + 1 < sectors.size() && sectors[j + 1] == sectors[j] + 1) {
            ++j;
        }
        out += (out.empty() ? "" : ", ") + std::to_string(sectors[i]);
        if (j > i) {
            out += "-" + std::to_string(sectors[j]);
        }
        i = j + 1;
    }
    return out;
}

}  // namespace torvik::cli
