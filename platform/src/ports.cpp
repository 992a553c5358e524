#include <platform/ports.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <mutex>
#include <string_view>

#include <libudev.h>

namespace torvik::platform {

namespace {

struct Family {
    std::string_view prefix;
    int first_com;
    int last_com;  // 0: open-ended
};

constexpr Family kFamilies[] = {
    {"/dev/ttyUSB", 1, 100},
    {"/dev/ttyACM", 101, 200},
    {"/dev/ttyS", 201, 0},
};

std::mutex g_table_mutex;
std::optional<std::vector<PortInfo>> g_table;

std::optional<int> ParseNumber(std::string_view text)
{
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseComName(const std::string& name)
{
    if (name.size() < 4) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return std::nullopt;
        }
    }
    const auto number = ParseNumber(std::string_view(name).substr(3));
    if (!number || *number < 1) {
        return std::nullopt;
    }
    return number;
}

std::string UsbProduct(udev_device* device)
{
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (usb == nullptr) {
        return {};
    }
    const char* product = udev_device_get_sysattr_value(usb, "product");
    return product != nullptr ? product : "";
}

std::vector<PortInfo> EnumerateUdev()
{
    std::vector<PortInfo> ports;
    udev* context = udev_new();
    if (context == nullptr) {
        return ports;
    }
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (enumerate != nullptr) {
        udev_enumerate_add_match_subsystem(enumerate, "tty");
        udev_enumerate_scan_devices(enumerate);
        for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate); entry != nullptr;
             entry = udev_list_entry_get_next(entry)) {
            udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (device == nullptr) {
                continue;
            }
            const char* node = udev_device_get_devnode(device);
            // Only ttys with hardware behind them: virtual consoles have no parent device, and the legacy
            // 8250 driver registers placeholder ports whether or not a UART is fitted.
            udev_device* parent = udev_device_get_parent(device);
            const char* parent_name = parent != nullptr ? udev_device_get_sysname(parent) : nullptr;
            if (node != nullptr && parent_name != nullptr && std::string_view(parent_name) != "serial8250") {
                PortInfo info;
                info.path = node;
                info.com_number = ComNumberForPath(info.path);
                info.description = UsbProduct(device);
                ports.push_back(std::move(info));
            }
            udev_device_unref(device);
        }
        udev_enumerate_unref(enumerate);
    }
    udev_unref(context);
    return ports;
}

}  // namespace

int ComNumberForPath(const std::string& path)
{
    for (const Family& family : kFamilies) {
        if (path.size() > family.prefix.size() && path.compare(0, family.prefix.size(), family.prefix) == 0) {
            const auto k = ParseNumber(std::string_view(path).substr(family.prefix.size()));
            if (!k) {
                return 0;
            }
            const int com = family.first_com + *k;
            if (family.last_com != 0 && com > family.last_com) {
                return 0;
            }
            return com;
        }
    }
    return 0;
}

std::string PathForComNumber(int com_number)
{
    for (const Family& family : kFamilies) {
        if (com_number >= family.first_com && (family.last_com == 0 || com_number <= family.last_com)) {
            return std::string(family.prefix) + std::to_string(com_number - family.first_com);
        }
    }
    return {};
}

std::vector<PortInfo> ListSerialPorts()
{
    std::vector<PortInfo> ports;
    {
        std::lock_guard lock(g_table_mutex);
        if (g_table) {
            ports = *g_table;
        }
    }
    if (ports.empty() && !g_table) {
        ports = EnumerateUdev();
    }
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        const bool a_named = a.com_number > 0;
        const bool b_named = b.com_number > 0;
        if (a_named != b_named) {
            return a_named;
        }
        if (a_named && a.com_number != b.com_number) {
            return a.com_number < b.com_number;
        }
        return a.path < b.path;
    });
    return ports;
}

std::optional<std::string> ResolvePortName(const std::string& name)
{
    if (!name.empty() && name.front() == '/') {
        return name;
    }
    const auto number = ParseComName(name);
    if (!number) {
        return std::nullopt;
    }
    {
        std::lock_guard lock(g_table_mutex);
        if (g_table) {
            for (const PortInfo& info : *g_table) {
                if (info.com_number == *number) {
                    return info.path;
                }
            }
            return std::nullopt;
        }
    }
    std::string path = PathForComNumber(*number);
    if (path.empty()) {
        return std::nullopt;
    }
    return path;
}

void SetPortTable(std::optional<std::vector<PortInfo>> table)
{
    std::lock_guard lock(g_table_mutex);
    g_table = std::move(table);
}

}  // namespace torvik::platform
