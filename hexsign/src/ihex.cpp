#include <hexsign/ihex.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace torvik::hexsign {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Reads `digits` hex digits at `text`; -1 when one of them is not a hex digit.
long HexValue(const char* text, int digits)
{
    long value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0) {
            return -1;
        }
        value = value * 16 + d;
    }
    return value;
}

constexpr char kDigits[] = "0123456789ABCDEF";

char* PutHex(char* at, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = kDigits[value & 0xFu];
        value >>= 4;
    }
    return at + digits;
}

}  // namespace

int Read_IHexRecord(IHexRecord* record, std::FILE* in)
{
    if (record == nullptr || in == nullptr) {
        return kIHexErrorInvalidArguments;
    }
    char line[kIHexMaxLine + 1];
    int length = 0;
    bool any = false;
    bool overlong = false;
    int c = 0;
    while ((c = std::getc(in)) != EOF) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (length < kIHexMaxLine) {
            line[length++] = static_cast<char>(c);
        } else {
            overlong = true;
        }
    }
    if (c == EOF) {
        if (std::ferror(in) != 0) {
            return kIHexErrorFile;
        }
        if (!any) {
            return kIHexErrorEof;
        }
    }
    while (length > 0 && line[length - 1] == '\r') {
        --length;
    }
    line[length] = '\0';
    if (length == 0 && !overlong) {
        return kIHexErrorNewline;
    }
    // A carriage return inside the line means lines that end in CR alone: the reader would see the
    // whole rest of the file as this one record.
    if (overlong || length < 9 || line[0] != ':' || std::memchr(line, '\r', static_cast<std::size_t>(length)) != nullptr) {
        return kIHexErrorInvalidRecord;
    }
    const long count = HexValue(line + 1, 2);
    const long address = HexValue(line + 3, 4);
    const long type = HexValue(line + 7, 2);
    // The line is the record and nothing else: a byte count that disagrees with the data is no record.
    if (count < 0 || address < 0 || type < 0 || length != 11 + 2 * count) {
        return kIHexErrorInvalidRecord;
    }
    std::memset(record->data, 0, sizeof record->data);
    record->dataLen = static_cast<int>(count);
    record->address = static_cast<std::uint16_t>(address);
    record->type = static_cast<int>(type);
    for (long i = 0; i < count; ++i) {
        const long byte = HexValue(line + 9 + 2 * i, 2);
        if (byte < 0) {
            return kIHexErrorInvalidRecord;
        }
        record->data[i] = static_cast<std::uint8_t>(byte);
    }
    const long checksum = HexValue(line + 9 + 2 * count, 2);
    if (checksum < 0) {
        return kIHexErrorInvalidRecord;
    }
    record->checksum = static_cast<std::uint8_t>(checksum);
    if (record->checksum != Checksum_IHexRecord(record)) {
        return kIHexErrorInvalidChecksum;
    }
    return kIHexOk;
}

int Write_IHexRecord(const IHexRecord* record, std::FILE* out)
{
    if (record == nullptr || out == nullptr) {
        return kIHexErrorInvalidArguments;
    }
    if (record->dataLen < 0 || record->dataLen > 255) {
        return kIHexErrorInvalidRecord;
    }
    char line[1 + 8 + 2 * 255 + 2 + 2];
    char* at = line;
    *at++ = ':';
    at = PutHex(at, static_cast<unsigned>(record->dataLen), 2);
    at = PutHex(at, record->address, 4);
    at = PutHex(at, static_cast<unsigned>(record->type) & 0xFFu, 2);
    for (int i = 0; i < record->dataLen; ++i) {
        at = PutHex(at, record->data[i], 2);
    }
    at = PutHex(at, Checksum_IHexRecord(record), 2);
    *at++ = '\r';
    *at++ = '\n';
    const auto size = static_cast<std::size_t>(at - line);
    if (std::fwrite(line, 1, size, out) != size) {
        return kIHexErrorFile;
    }
    return kIHexOk;
}

std::uint8_t Checksum_IHexRecord(const IHexRecord* record)
{
    unsigned sum = static_cast<unsigned>(record->dataLen) + (record->address >> 8u) + (record->address & 0xFFu) +
                   static_cast<unsigned>(record->type);
    const int length = record->dataLen < 0 ? 0 : (record->dataLen > 256 ? 256 : record->dataLen);
    for (int i = 0; i < length; ++i) {
        sum += record->data[i];
    }
    return static_cast<std::uint8_t>(~sum + 1u);
}

int New_IHexRecord(int type, std::uint16_t address, const std::uint8_t* data, int dataLen, IHexRecord* record)
{
    if (record == nullptr || (data == nullptr && dataLen > 0)) {
        return kIHexErrorInvalidArguments;
    }
    if (dataLen < 0 || dataLen > 255) {
        return kIHexErrorInvalidRecord;
    }
    record->type = type;
    record->address = address;
    record->dataLen = dataLen;
    std::memset(record->data, 0, sizeof record->data);
    if (dataLen > 0) {
        std::memcpy(record->data, data, static_cast<std::size_t>(dataLen));
    }
    record->checksum = Checksum_IHexRecord(record);
    return kIHexOk;
}

std::string Describe_IHexResult(int result, const IHexRecord& record)
{
    switch (result) {
    case kIHexOk:
        return "valid record";
    case kIHexErrorInvalidChecksum: {
        char text[80];
        std::snprintf(text, sizeof text, "checksum %02X does not match the record (its bytes give %02X)",
                      record.checksum, Checksum_IHexRecord(&record));
        return text;
    }
    case kIHexErrorNewline:
        return "empty line";
    case kIHexErrorFile:
        return "cannot read the file";
    case kIHexErrorEof:
        return "end of file";
    default:
        return "invalid record";
    }
}

bool Check_IHexFile(std::FILE* in, IHexProblem& problem)
{
    IHexRecord record;
    bool ended = false;
    for (int line = 1;; ++line) {
        const int rc = Read_IHexRecord(&record, in);
        if (rc == kIHexErrorEof) {
            if (!ended) {
                problem = {0, "no end record"};
            }
            return ended;
        }
        if (rc != kIHexOk) {
            problem = {line, Describe_IHexResult(rc, record)};
            return false;
        }
        if (ended) {
            problem = {line, "a record after the end record"};
            return false;
        }
        ended = record.type == 1;
    }
}

std::string Format_IHexFile(std::uint32_t address, const std::uint8_t* data, std::size_t count)
{
    std::string text;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    if (out == nullptr) {
        return text;
    }
    IHexRecord record;
    auto page = [&](std::uint32_t at) {
        const std::uint8_t upper[2] = {static_cast<std::uint8_t>(at >> 24u), static_cast<std::uint8_t>(at >> 16u)};
        New_IHexRecord(4, 0, upper, 2, &record);
        Write_IHexRecord(&record, out);
    };
    std::uint32_t at = address;
    page(at);
    for (std::size_t done = 0; done < count;) {
        const std::size_t left = count - done;
        const std::size_t pageLeft = 0x10000u - (at & 0xFFFFu);
        const std::size_t n = std::min<std::size_t>({16, left, pageLeft});
        New_IHexRecord(0, static_cast<std::uint16_t>(at & 0xFFFFu), data + done, static_cast<int>(n), &record);
        Write_IHexRecord(&record, out);
        done += n;
        at += static_cast<std::uint32_t>(n);
        if ((at & 0xFFFFu) == 0 && done < count) {
            page(at);
        }
    }
    New_IHexRecord(1, 0, nullptr, 0, &record);
    Write_IHexRecord(&record, out);
    if (std::fclose(out) == 0 && buffer != nullptr) {
        text.assign(buffer, size);
    }
    std::free(buffer);
    return text;
}

void Print_IHexRecord(const IHexRecord* record)
{
    if (record == nullptr) {
        return;
    }
    std::printf("Type: %d\nAddress: 0x%04X\nData:", record->type, record->address);
    for (int i = 0; i < record->dataLen && i < 256; ++i) {
        std::printf(" %02X", record->data[i]);
    }
    std::printf("\nChecksum: 0x%02X\n", record->checksum);
}

}  // namespace torvik::hexsign
