#include <hexsign/xorhex4.hpp>

#include <hexsign/ihex.hpp>
#include <platform/process.hpp>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace torvik::hexsign {

namespace {

constexpr std::uint32_t kSignatureEnd = 0x6FFFD;    // last address the signature covers
constexpr std::uint32_t kSignatureAt = 0x6FFFE;     // where the signature itself is stored
constexpr std::uint32_t kGapFillEnd = 0x1DFFD;      // gaps above this are not filled with 0xFF
constexpr std::uint32_t kVectorChecksumAt = 28;

void Say(std::FILE* console, const char* text)
{
    if (console != nullptr) {
        std::fputs(text, console);
    }
}

void FeedSignature(SignState& s, std::uint8_t b, std::uint32_t a)
{
    if ((a & 1u) != 0) {
        s.signature = static_cast<std::uint16_t>(s.signature ^ (b << 8u));
    } else {
        s.signature = static_cast<std::uint16_t>(s.signature ^ b);
    }
    if (((a + 1u) & 0xFu) == 0) {
        s.signature = static_cast<std::uint16_t>(s.signature + 1u);
    }
}

void FeedVectorSum(SignState& s, std::uint32_t a, IHexRecord& record, int i)
{
    if (a > kVectorChecksumAt) {
        return;
    }
    if (a < kVectorChecksumAt) {
        s.word[a % 4] = record.data[i];
        if (a % 4 == 3) {
            s.vector_sum += static_cast<std::uint32_t>(s.word[0]) | static_cast<std::uint32_t>(s.word[1]) << 8u |
                            static_cast<std::uint32_t>(s.word[2]) << 16u | static_cast<std::uint32_t>(s.word[3]) << 24u;
        }
        return;
    }
    s.vector_sum = ~s.vector_sum + 1u;
    for (int k = 0; k < 4 && i + k < 256; ++k) {
        record.data[i + k] = static_cast<std::uint8_t>(s.vector_sum >> (8u * static_cast<unsigned>(k)));
    }
}

int WriteSignatureRecords(const SignState& s, std::FILE* out, std::FILE* console)
{
    IHexRecord record;
    if (s.base <= 0x5FFFF) {
        const std::uint8_t upper[2] = {0x00, 0x06};
        New_IHexRecord(4, 0, upper, 2, &record);
        if (const int rc = Write_IHexRecord(&record, out); rc != kIHexOk) {
            return rc;
        }
    }
    const std::uint8_t value[2] = {static_cast<std::uint8_t>(s.signature & 0xFFu),
                                   static_cast<std::uint8_t>(s.signature >> 8u)};
    New_IHexRecord(0, 0xFFFE, value, 2, &record);
    if (const int rc = Write_IHexRecord(&record, out); rc != kIHexOk) {
        return rc;
    }
    Say(console, "Koncovka");
    return kIHexOk;
}

int EndHandling(SignState& s, std::FILE* out, std::FILE* console)
{
    if (s.signature_written) {
        return kIHexOk;
    }
    s.signature_written = true;
    if (s.record_address <= kSignatureEnd) {
        for (; s.running <= kSignatureEnd; ++s.running) {
            FeedSignature(s, 0xFF, s.running);
        }
    }
    return WriteSignatureRecords(s, out, console);
}

int DataHandling(SignState& s, IHexRecord& record, std::FILE* out, std::FILE* console)
{
    s.record_address = s.base + record.address;
    // Unwritten bytes count as erased flash (0xFF), but only in the lower part of the image.
    for (; s.running < s.record_address && s.running <= kGapFillEnd; ++s.running) {
        FeedSignature(s, 0xFF, s.running);
    }
    if (s.running < s.record_address) {
        s.running = s.record_address;
    }
    const int length = record.dataLen < 256 ? record.dataLen : 256;
    for (int i = 0; i < length; ++i) {
        if (s.running <= kSignatureEnd) {
            FeedVectorSum(s, s.record_address, record, i);
            FeedSignature(s, record.data[i], s.record_address);
        }
        if (s.running == kSignatureAt) {
            if (console != nullptr) {
                std::fprintf(console, "Vysledek%0x:%04hx\r\n", s.running, s.signature);
            }
            if (const int rc = WriteSignatureRecords(s, out, console); rc != kIHexOk) {
                return rc;
            }
            record.data[i] = static_cast<std::uint8_t>(s.signature & 0xFFu);
            if (i + 1 < 256) {
                record.data[i + 1] = static_cast<std::uint8_t>(s.signature >> 8u);
            }
        }
        ++s.running;
        ++s.record_address;
    }
    return kIHexOk;
}

int ProcessRecord(SignState& s, IHexRecord& record, std::FILE* out, std::FILE* console)
{
    const auto value16 = static_cast<std::uint32_t>(record.data[0] << 8u | record.data[1]);
    switch (record.type) {
    case 0:
        return DataHandling(s, record, out, console);
    case 1:
        if (console != nullptr) {
            std::fprintf(console, "Koncovka adr:%05x %05xsegment:%x\n", s.record_address, s.running, s.base);
        }
        return EndHandling(s, out, console);
    case 2:
        s.base = value16 * 16u;
        return kIHexOk;
    case 4:
        s.base = value16 * 65536u;
        return kIHexOk;
    case 5:
        Say(console, "Start zaznam");
        return EndHandling(s, out, console);
    default:
        return kIHexOk;
    }
}

}  // namespace

int SignHexStream(std::FILE* in, std::FILE* out, std::FILE* console)
{
    SignState state;
    IHexRecord record;
    for (;;) {
        const int rc = Read_IHexRecord(&record, in);
        if (rc == kIHexErrorInvalidChecksum) {
            if (console != nullptr) {
                std::fprintf(console, "Ukonceni:%i\n", rc);
            }
            // Copied with a corrected checksum but kept out of the signature and the vector sum.
            if (Write_IHexRecord(&record, out) != kIHexOk) {
                return kIHexErrorFile;
            }
            continue;
        }
        if (rc != kIHexOk) {
            if (console != nullptr) {
                std::fprintf(console, "Ukonceni:%i\n", rc);
            }
            return rc;
        }
        if (ProcessRecord(state, record, out, console) != kIHexOk || Write_IHexRecord(&record, out) != kIHexOk) {
            return kIHexErrorFile;
        }
    }
}

int RunSignTool(int argc, char** argv)
{
    if (argc < 2 || argv[1] == nullptr) {
        std::fprintf(stderr, "Usage: %s <file>\n", argc > 0 && argv[0] != nullptr ? argv[0] : "QuenbyFlashUtility");
        std::fprintf(stderr, "Program vlozi xor 2 byty na konec kodu.\n\n");
        return -1;
    }
    const std::filesystem::path input(argv[1]);
    std::FILE* in = std::fopen(argv[1], "r");
    if (in == nullptr) {
        std::perror("Error opening file!");
        return -1;
    }
    // The result is written beside the input under a unique name and renamed over it, so a failed
    // run leaves the input as it was and two runs never share a temporary file.
    std::error_code ec;
    const auto dir = input.has_parent_path() ? input.parent_path() : std::filesystem::path(".");
    std::string prefix = ".";
    prefix.append(input.filename().string()).append(".");
    const auto tmp_path = platform::CreateUniqueFile(dir, prefix, ec);
    std::FILE* tmp = tmp_path.empty() ? nullptr : std::fopen(tmp_path.c_str(), "wb");
    if (tmp == nullptr) {
        errno = ec ? ec.value() : errno;
        std::perror("Error opening tmp file!");
        std::fclose(in);
        if (!tmp_path.empty()) {
            std::filesystem::remove(tmp_path, ec);
        }
        return -1;
    }

    const int rc = SignHexStream(in, tmp, stdout);
    std::fclose(in);
    const bool closed = std::fclose(tmp) == 0;
    if (rc == kIHexErrorEof && closed) {
        // Keep the input's permissions; the temporary file was created private.
        const auto perms = std::filesystem::status(input, ec).permissions();
        if (!ec) {
            std::filesystem::permissions(tmp_path, perms, ec);
        }
        std::filesystem::rename(tmp_path, input, ec);
        if (!ec) {
            return 0;
        }
        errno = ec.value();
        std::perror("Error renaming tmp file!");
    }
    std::filesystem::remove(tmp_path, ec);
    return 2;
}

}  // namespace torvik::hexsign
