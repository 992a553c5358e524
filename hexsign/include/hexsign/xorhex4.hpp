#pragma once

#include <cstdint>
#include <cstdio>

#include <hexsign/ihex.hpp>

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
    bool ended = false;                ///< the end record was read: nothing may follow
    int base_type = 0;                 ///< type (2 or 4) of the record that set `base`, 0 for none
    std::uint16_t base_value = 0;      ///< that record's value
    bool base_moved = false;           ///< the signature records left the output at another base
};


/// Copies the HEX records of `in` to `out`, completing the boot checksum word at address 28 and
/// adding the XOR signature records (address 0x6FFFE). Progress lines go to `console` (may be null).
/// Returns -2 when the whole input was read and ended with its end record; any other reader code for a
/// malformed line (a checksum mismatch included), -3 for a record after the end record or an input
/// without one, -1 for a failed write to `out`. `failure` (may be null) says on which line and why.
int SignHexStream(std::FILE* in, std::FILE* out, std::FILE* console, IHexProblem* failure = nullptr);

/// The whole program: argument check, input, the pass in memory, the signed file written over the
/// input (see platform::WriteFileSafely). Returns the process exit status (0, -1 usage/open error, 2
/// read or write error); every failure is also one line on standard error.
int RunSignTool(int argc, char** argv);

}  // namespace torvik::hexsign
