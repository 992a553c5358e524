// The real serial line: a tty through the platform layer.
#include <devicelink/ports.hpp>
#include <devicelink/serial_io.hpp>

#include <platform/ports.hpp>
#include <platform/serial.hpp>

namespace torvik::devicelink {

namespace {

class SystemSerialIo final : public SerialIo {
public:
    std::error_code Open(const std::string& path) { return device_.Open(path); }
    std::error_code ReadSettings() override { return device_.ReadSettings(); }
    std::error_code ApplySettings(const LineSettings& settings) override
    {
        return device_.ApplySettings({settings.baud_bps, settings.byte_size, settings.stop_bits, settings.parity});
    }
    IoResult Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms) override
    {
        const auto r = device_.Read(buffer, count, timeout_ms);
        return {r.count, r.error};
    }
    IoResult Write(const std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms) override
    {
        const auto r = device_.Write(buffer, count, timeout_ms);
        return {r.count, r.error};
    }
    std::error_code Purge() override { return device_.Purge(); }
    std::error_code Close() override { return device_.Close(); }

private:
    platform::SerialDevice device_;
};

}  // namespace

std::unique_ptr<SerialIo> OpenSystemSerial(const std::string& port_name, std::error_code& error)
{
    const auto path = platform::ResolvePortName(port_name);
    if (!path) {
        error = std::make_error_code(std::errc::no_such_device);
        return nullptr;
    }
    auto io = std::make_unique<SystemSerialIo>();
    error = io->Open(*path);
    if (error) {
        return nullptr;
    }
    return io;
}

std::vector<PortEntry> ListPorts()
{
    std::vector<PortEntry> entries;
    for (auto& info : platform::ListSerialPorts()) {
        entries.push_back({info.com_number, std::move(info.path), std::move(info.description)});
    }
    return entries;
}

void SetPortTable(std::optional<std::vector<PortEntry>> table)
{
    if (!table) {
        platform::SetPortTable(std::nullopt);
        return;
    }
    std::vector<platform::PortInfo> infos;
    for (auto& entry : *table) {
        infos.push_back({entry.com_number, std::move(entry.path), std::move(entry.description)});
    }
    platform::SetPortTable(std::move(infos));
}

}  // namespace torvik::devicelink
