// Feeds arbitrary bytes to the INI reader, then checks that what it read survives a write and a
// second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <platform/profile.hpp>

using torvik::platform::DecodeProfileText;
using torvik::platform::EncodeProfileText;
using torvik::platform::ProfileDocument;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ProfileDocument doc = ProfileDocument::Parse(DecodeProfileText(bytes));
    for (const auto& section : doc.sections()) {
        (void)doc.GetString(section.name, L"Dbc_Names");
        for (const auto& line : section.lines) {
            const auto eq = line.find(L'=');
            if (eq != std::wstring::npos) {
                (void)doc.GetString(section.name, line.substr(0, eq));
            }
        }
    }
    const std::wstring text = doc.Serialize();
    const ProfileDocument again = ProfileDocument::Parse(DecodeProfileText(EncodeProfileText(text)));
    if (again.Serialize() != text) {
        std::abort();
    }
    return 0;
}
