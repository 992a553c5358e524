#include <hexsign/xorhex4.hpp>

#include <hexsign/ihex.hpp>
#include <platform/files.hpp>
#include <platform/version.hpp>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <string>
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

// The signature goes to 0x6FFFE whatever base the file is at: the extended address record comes first
// unless the base is that segment already. The records after it then need their own base again.
int WriteSignatureRecords(SignState& s, std::FILE* out, std::FILE* console)
{
    IHexRecord record;
    if (s.base != 0x60000) {
        const std::uint8_t upper[2] = {0x00, 0x06};
        New_IHexRecord(4, 0, upper, 2, &record);
        if (const int rc = Write_IHexRecord(&record, out); rc != kIHexOk) {
            return rc;
        }
        s.base_moved = true;
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
        s.ended = true;
        return EndHandling(s, out, console);
    case 2:
    case 4:
        s.base = record.type == 2 ? value16 * 16u : value16 * 65536u;
        s.base_type = record.type;
        s.base_value = static_cast<std::uint16_t>(value16);
        s.base_moved = false;
        return kIHexOk;
    case 5:
        Say(console, "Start zaznam");
        return EndHandling(s, out, console);
    default:
        return kIHexOk;
    }
}

// Puts the base of the file back after the signature records moved it, before the next data record.
int RestoreBase(SignState& s, std::FILE* out)
{
    s.base_moved = false;
    const std::uint8_t value[2] = {static_cast<std::uint8_t>(s.base_value >> 8u),
                                   static_cast<std::uint8_t>(s.base_value & 0xFFu)};
    IHexRecord record;
    New_IHexRecord(s.base_type == 2 ? 2 : 4, 0, value, 2, &record);
    return Write_IHexRecord(&record, out);
}

}  // namespace

int SignHexStream(std::FILE* in, std::FILE* out, std::FILE* console, IHexProblem* failure)
{
    SignState state;
    IHexRecord record;
    int line = 0;
    auto fail = [failure, &line](int rc, std::string reason, bool onLine = true) {
        if (failure != nullptr) {
            failure->line = onLine ? line : 0;
            failure->reason = std::move(reason);
        }
        return rc;
    };
    for (;;) {
        ++line;
        const int rc = Read_IHexRecord(&record, in);
        if (rc == kIHexErrorEof) {
            return state.ended ? rc : fail(kIHexErrorInvalidRecord, "no end record", false);
        }
        if (rc != kIHexOk) {
            if (console != nullptr) {
                std::fprintf(console, "Ukonceni:%i\n", rc);
            }
            return fail(rc, Describe_IHexResult(rc, record));
        }
        if (state.ended) {
            return fail(kIHexErrorInvalidRecord, "a record after the end record");
        }
        if (ProcessRecord(state, record, out, console) != kIHexOk ||
            (state.base_moved && record.type == 0 && RestoreBase(state, out) != kIHexOk) ||
            Write_IHexRecord(&record, out) != kIHexOk) {
            return fail(kIHexErrorFile, "cannot write the signed records", false);
        }
    }
}

namespace {

constexpr const char* kProgram = "QuenbyFlashUtility";

void PrintUsage(std::FILE* to, const char* argv0)
{
    std::fprintf(to, "Usage: %s <file>\n", argv0 != nullptr ? argv0 : kProgram);
    std::fprintf(to, "Program vlozi xor 2 byty na konec kodu.\n\n");
}

// The pass over bytes held in memory; the signed file lands in `signed_bytes`.
int SignBytes(std::string& bytes, std::string& signed_bytes, IHexProblem& failure)
{
    // An empty input still makes a stream (fmemopen wants a buffer of at least one byte).
    char none = '\0';
    std::FILE* in = bytes.empty() ? fmemopen(&none, 1, "r") : fmemopen(bytes.data(), bytes.size(), "r");
    char* out_data = nullptr;
    std::size_t out_size = 0;
    std::FILE* out = open_memstream(&out_data, &out_size);
    int rc = kIHexErrorFile;
    if (in != nullptr && out != nullptr) {
        if (bytes.empty()) {
            std::fgetc(in);  // past the one byte: the stream is at its end
        }
        rc = SignHexStream(in, out, stdout, &failure);
    } else {
        failure.reason = "out of memory";
    }
    if (in != nullptr) {
        std::fclose(in);
    }
    if (out != nullptr && std::fclose(out) == 0 && out_data != nullptr) {
        signed_bytes.assign(out_data, out_size);
    }
    std::free(out_data);
    return rc;
}

}  // namespace

int RunSignTool(int argc, char** argv)
{
    const char* const argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : kProgram;
    if (argc >= 2 && argv[1] != nullptr && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        PrintUsage(stdout, argv0);
        return 0;
    }
    if (argc >= 2 && argv[1] != nullptr && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", kProgram, TORVIK_VERSION);
        return 0;
    }
    if (argc < 2 || argv[1] == nullptr) {
        PrintUsage(stderr, argv0);
        return -1;
    }
    const std::filesystem::path input(argv[1]);
    // Only a regular file is signed in place: a device or a pipe is no firmware file to rewrite.
    std::error_code ec;
    if (std::filesystem::exists(input, ec) && !std::filesystem::is_regular_file(input, ec)) {
        ec = std::filesystem::is_directory(input) ? std::make_error_code(std::errc::is_a_directory)
                                                  : make_error_code(platform::WriteRefusal::not_regular);
    } else {
        std::string bytes;
        ec = platform::ReadWholeFile(input, bytes);
        if (!ec) {
            std::string signed_bytes;
            IHexProblem failure;
            if (SignBytes(bytes, signed_bytes, failure) != kIHexErrorEof) {
                if (failure.line > 0) {
                    std::fprintf(stderr, "%s: %s:%d: %s; the file is left as it was\n", kProgram, argv[1],
                                 failure.line, failure.reason.c_str());
                } else {
                    std::fprintf(stderr, "%s: %s: %s; the file is left as it was\n", kProgram, argv[1],
                                 failure.reason.c_str());
                }
                return 2;
            }
            if (const auto written = platform::WriteFileSafely(input, signed_bytes)) {
                std::fprintf(stderr, "%s: cannot write '%s': %s; the file is left as it was\n", kProgram, argv[1],
                             written.message().c_str());
                return 2;
            }
            return 0;
        }
    }
    std::fprintf(stderr, "Error opening file!: %s\n", ec.message().c_str());
    return -1;
}

}  // namespace torvik::hexsign
