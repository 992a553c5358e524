#pragma once

#include <cstdint>
#include <cstdio>

namespace torvik::hexsign {

/// Working state of one signing pass over a HEX file.
struct SignState {
    std::uint32_t base = 0;            ///< set by type 4 and type 2 records
    std::uint32_t record_address = 0;  ///< base + current record address, advanced per data byte
    std::uint32_t running = 0;         ///< next address the signature has taken into account
    std::uint16_t signature = 0x5555;
    std::uint32_t vector_sum = 0;
    std::uint8_t word[4] = {};
    bool signature_written = false;    ///< set by the end handling (first type 1 or 5 record)
};

/// Copies the HEX records of `in` to `out`, completing the boot checksum word at address 28 and
/// adding the XOR signature records (address 0x6FFFE). Progress lines go to `console` (may be null).
/// Returns the reader result that ended the pass: -2 when the whole input was read, any other
/// reader code for a malformed line; a failed write to `out` returns -1.
int SignHexStream(std::FILE* in, std::FILE* out, std::FILE* console);

/// The whole program: argument check, input, unique temporary file beside the input, the pass,
/// rename over the input. Returns the process exit status (0, -1 usage/open error, 2 read or
/// write error). Usage and open errors go to standard error.
int RunSignTool(int argc, char** argv);

}  // namespace torvik::hexsign
