// The update index reader and the release choice on any text.
#include <device/flash_dialog.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    torvik::studio::UpdateIndex index;
    torvik::studio::ReadUpdateIndexText(std::string_view(reinterpret_cast<const char*>(data), size), index);
    bool product = false;
    bool fits = false;
    torvik::studio::ChooseUpdate(index, 0x4A01, kq::flashlib::Version(1, 2), kq::flashlib::Version(1, 3), product,
                                 fits);
    for (const auto& p : index.products) {
        for (const auto& u : p.updates) {
            torvik::studio::ContainerAddress("http://127.0.0.1/fw/updates.xml", u.file_name);
        }
    }
    return 0;
}
