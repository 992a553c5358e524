#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include <devicelink/export.hpp>

namespace torvik::devicelink {

/// Line settings in the codes of the Windows device control block: stop bits 0 = one, 1 = one and a
/// half, 2 = two; parity 0 none, 1 odd, 2 even, 3 mark, 4 space.
struct LineSettings {
    std::uint32_t baud_bps = 0;
    std::uint8_t byte_size = 8;
    std::uint8_t stop_bits = 0;
    std::uint8_t parity = 0;
};

/// Bytes moved by one read or write and the error that ended it (none on completion or time-out).
struct IoResult {
    std::size_t count = 0;
    std::error_code error;
};

/// One open serial line under a SerialPort. A read and a write may run at the same time on two threads.
class TORVIK_API SerialIo {
public:
    virtual ~SerialIo() = default;
    virtual std::error_code ReadSettings() = 0;
    virtual std::error_code ApplySettings(const LineSettings& settings) = 0;
    /// Waits up to timeout_ms for data and returns what is there (at most count bytes); 0 bytes and no
    /// error is a time-out.
    virtual IoResult Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms) = 0;
    /// Writes all bytes unless timeout_ms passes first or an error occurs.
    virtual IoResult Write(const std::uint8_t* buffer, std::size_t count, std::uint32_t timeout_ms) = 0;
    virtual std::error_code Purge() = 0;
    virtual std::error_code Close() = 0;
};

/// Opens a port by name (COM<n> or an absolute device path); null with the error on failure.
using SerialOpener = std::function<std::unique_ptr<SerialIo>(const std::string& port_name, std::error_code& error)>;

/// The opener of real ttys (platform serial layer), resolving COM names through the port table.
TORVIK_API std::unique_ptr<SerialIo> OpenSystemSerial(const std::string& port_name, std::error_code& error);

}  // namespace torvik::devicelink
