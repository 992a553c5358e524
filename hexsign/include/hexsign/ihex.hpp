#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace torvik::hexsign {

/// One Intel HEX record (one line of a HEX file).
struct IHexRecord {
    std::uint16_t address = 0;      ///< load offset
    std::uint8_t data[256] = {};    ///< record data; only `dataLen` bytes are used
    int dataLen = 0;                ///< number of data bytes used
    int type = 0;                   ///< 0 data, 1 end of file, 2/3 segment, 4/5 linear address
    std::uint8_t checksum = 0;      ///< as read from the file
};

/// Result codes of the record functions.
inline constexpr int kIHexOk = 0;
inline constexpr int kIHexErrorFile = -1;
inline constexpr int kIHexErrorEof = -2;
inline constexpr int kIHexErrorInvalidRecord = -3;
inline constexpr int kIHexErrorInvalidArguments = -4;
inline constexpr int kIHexErrorNewline = -5;
inline constexpr int kIHexErrorInvalidChecksum = -6;

/// Longest line the reader takes; a longer line is read to its end and is an invalid record.
inline constexpr int kIHexMaxLine = 768;

/// Reads one line from `in` and decodes it into `record`. A line ends at a line feed (or the end of the
/// file); carriage returns right before it are dropped, so CR LF, LF and CR CR LF endings all read alike.
/// Returns 0 for a valid record, -1 read error, -2 end of file, -3 invalid record (not starting with ':',
/// a character that is not a hexadecimal digit, a length other than 11 + 2 per data byte, a carriage
/// return inside the line, or longer than `kIHexMaxLine`), -4 null argument, -5 empty line, -6 checksum
/// mismatch (the record is filled in all the same).
int Read_IHexRecord(IHexRecord* record, std::FILE* in);

/// Writes `record` as one upper-case line ending in CR LF, with a freshly computed checksum.
/// Returns 0, -1 write error, -3 data length outside 0..255 (two hex digits cannot say more),
/// -4 null argument.
int Write_IHexRecord(const IHexRecord* record, std::FILE* out);

/// Two's complement of the low 8 bits of the sum of count, address bytes, type and data bytes.
std::uint8_t Checksum_IHexRecord(const IHexRecord* record);

/// Fills `record` from its parts and computes its checksum. Returns 0, -3 bad length, -4 null argument.
int New_IHexRecord(int type, std::uint16_t address, const std::uint8_t* data, int dataLen, IHexRecord* record);

/// What a reader result means for the line it was read from: "invalid record", "empty line",
/// "checksum 12 does not match the record (its bytes give 34)", ...
std::string Describe_IHexResult(int result, const IHexRecord& record);

/// Where and why a HEX file is not sound.
struct IHexProblem {
    int line = 0;        ///< the line, from 1; 0 when the problem is not one line's
    std::string reason;
};

/// Reads `in` to its end and checks it as a whole HEX file: every line a valid record and an end record
/// last, with nothing after it. False and `problem` filled in at the first fault.
bool Check_IHexFile(std::FILE* in, IHexProblem& problem);

/// `count` bytes at `address` as a whole HEX file: an extended linear address record for every 64 KB page
/// the data touches, data records of up to 16 bytes that never cross a page, an end record; CR LF lines.
std::string Format_IHexFile(std::uint32_t address, const std::uint8_t* data, std::size_t count);

/// Prints `record` in readable form to standard output (diagnostics).
void Print_IHexRecord(const IHexRecord* record);

}  // namespace torvik::hexsign
