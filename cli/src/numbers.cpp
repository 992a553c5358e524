// Numbers as every command takes them.
#include <charconv>
#include <string>

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

}  // namespace torvik::cli
