#include <platform/isp.hpp>

#include <platform/serial.hpp>

#include <algorithm>
#include <charconv>

namespace torvik::platform::isp {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kLineBytes = 45;
constexpr std::size_t kBlockLines = 20;
constexpr std::size_t kBlockBytes = kLineBytes * kBlockLines;
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;
constexpr char kEscape = 0x1B;

bool IsBreak(char c)
{
    return c == '\r' || c == '\n';
}

bool ParseDecimal(std::string_view text, std::uint32_t& value)
{
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && at == end && !text.empty();
}

char Sextet(unsigned v)
{
    return v == 0 ? '`' : static_cast<char>(0x20 + v);
}

class SerialPort final : public Port {
public:
    std::error_code Open(const std::string& path)
    {
        if (auto ec = device_.Open(path)) {
            return ec;
        }
        return SetBaud(230400);
    }
    std::error_code Write(std::string_view bytes) override
    {
        const auto sent = device_.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 5000);
        if (sent.error) {
            return sent.error;
        }
        return sent.count == bytes.size() ? std::error_code() : std::make_error_code(std::errc::timed_out);
    }
    std::error_code Read(std::string& into, milliseconds timeout) override
    {
        std::uint8_t buffer[4096];
        const auto got = device_.Read(buffer, sizeof buffer, static_cast<std::uint32_t>(std::max<long long>(timeout.count(), 0)));
        if (got.error) {
            return got.error;
        }
        if (got.count == 0) {
            return std::make_error_code(std::errc::timed_out);
        }
        into.append(reinterpret_cast<const char*>(buffer), got.count);
        return {};
    }
    std::error_code SetBaud(std::uint32_t baud) override
    {
        SerialSettings settings;
        settings.baud_bps = baud;
        return device_.ApplySettings(settings);
    }
    void DiscardInput() override { device_.Purge(); }
    bool SetLines(bool dtr, bool rts) override { return !device_.SetModemLines(dtr, rts); }

private:
    SerialDevice device_;
};

}  // namespace

std::uint32_t SectorStart(int sector)
{
    return sector < 16 ? static_cast<std::uint32_t>(sector) * 0x1000u
                       : 0x10000u + static_cast<std::uint32_t>(sector - 16) * 0x8000u;
}

std::uint32_t SectorEnd(int sector)
{
    return SectorStart(sector) + (sector < 16 ? 0xFFFu : 0x7FFFu);
}

int SectorOf(std::uint32_t address)
{
    if (address >= kFlashSize) {
        return -1;
    }
    return address < 0x10000 ? static_cast<int>(address / 0x1000) : 16 + static_cast<int>((address - 0x10000) / 0x8000);
}

std::string ReturnCodeName(int code)
{
    static constexpr const char* kNames[] = {"CMD_SUCCESS",
                                             "INVALID_COMMAND",
                                             "SRC_ADDR_ERROR",
                                             "DST_ADDR_ERROR",
                                             "SRC_ADDR_NOT_MAPPED",
                                             "DST_ADDR_NOT_MAPPED",
                                             "COUNT_ERROR",
                                             "INVALID_SECTOR",
                                             "SECTOR_NOT_BLANK",
                                             "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION",
                                             "COMPARE_ERROR",
                                             "BUSY",
                                             "PARAM_ERROR",
                                             "ADDR_ERROR",
                                             "ADDR_NOT_MAPPED",
                                             "CMD_LOCKED",
                                             "INVALID_CODE",
                                             "INVALID_BAUD_RATE",
                                             "INVALID_STOP_BIT",
                                             "CODE_READ_PROTECTION_ENABLED"};
    if (code >= 0 && code < static_cast<int>(std::size(kNames))) {
        return kNames[code];
    }
    return "unknown code " + std::to_string(code);
}

std::string UuEncodeLine(const std::uint8_t* data, std::size_t count)
{
    std::string line;
    line.reserve(1 + 4 * ((count + 2) / 3));
    line.push_back(static_cast<char>(0x20 + count));
    for (std::size_t i = 0; i < count; i += 3) {
        const unsigned a = data[i];
        const unsigned b = i + 1 < count ? data[i + 1] : 0u;
        const unsigned c = i + 2 < count ? data[i + 2] : 0u;
        line.push_back(Sextet(a >> 2u));
        line.push_back(Sextet(((a & 0x3u) << 4u) | (b >> 4u)));
        line.push_back(Sextet(((b & 0xFu) << 2u) | (c >> 6u)));
        line.push_back(Sextet(c & 0x3Fu));
    }
    return line;
}

bool UuDecodeLine(std::string_view line, std::vector<std::uint8_t>& out)
{
    if (line.empty()) {
        return false;
    }
    for (const char c : line) {
        if (c < 0x20 || c > 0x60) {
            return false;
        }
    }
    const std::size_t count = static_cast<std::size_t>((line[0] - 0x20) & 0x3F);
    if (count == 0 || count > kLineBytes || line.size() != 1 + 4 * ((count + 2) / 3)) {
        return false;
    }
    auto v = [&line](std::size_t i) { return static_cast<unsigned>((line[i] - 0x20) & 0x3F); };
    std::size_t done = 0;
    for (std::size_t i = 1; done < count; i += 4) {
        const unsigned bytes[3] = {(v(i) << 2u) | (v(i + 1) >> 4u), ((v(i + 1) & 0xFu) << 4u) | (v(i + 2) >> 2u),
                                   ((v(i + 2) & 0x3u) << 6u) | v(i + 3)};
        // The pad of the last group is whatever the sender had there: it is not data.
        for (unsigned b : bytes) {
            if (done < count) {
                out.push_back(static_cast<std::uint8_t>(b & 0xFFu));
                ++done;
            }
        }
    }
    return true;
}

std::unique_ptr<Port> OpenSerialPort(const std::string& path, std::error_code& error)
{
    auto port = std::make_unique<SerialPort>();
    error = port->Open(path);
    if (error) {
        return nullptr;
    }
    return port;
}

Client::Client(Port& port, ClientOptions options) : port_(port), options_(options) {}

Status Client::Send(std::string_view bytes)
{
    if (const auto ec = port_.Write(bytes)) {
        return {kPortFailed, "cannot send to the boot loader: " + ec.message()};
    }
    return {};
}

Status Client::ReadLine(std::string& line, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // Flow control characters are not part of any line; a run of line breaks is one break.
        pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [](char c) { return c == kXon || c == kXoff; }),
                       pending_.end());
        const auto start = std::find_if_not(pending_.begin(), pending_.end(), IsBreak);
        const auto end = std::find_if(start, pending_.end(), IsBreak);
        if (end != pending_.end()) {
            line.assign(start, end);
            pending_.erase(pending_.begin(), end);
            return {};
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return {kTimedOut, "no answer from the boot loader"};
        }
        const auto ec = port_.Read(pending_, left);
        if (ec && ec != std::errc::timed_out) {
            return {kPortFailed, "cannot read from the boot loader: " + ec.message()};
        }
    }
}

Status Client::ReadNumber(std::uint32_t& value, const char* what)
{
    std::string line;
    if (auto s = ReadLine(line, options_.answer_timeout); !s.ok()) {
        s.message += std::string(" (") + what + ")";
        return s;
    }
    if (!ParseDecimal(line, value)) {
        return {kBadAnswer, std::string("the boot loader sent '") + line + "' for " + what};
    }
    return {};
}

Status Client::Expect(std::string_view want, milliseconds timeout)
{
    std::string line;
    if (auto s = ReadLine(line, timeout); !s.ok()) {
        return s;
    }
    if (line != want) {
        return {kBadAnswer, "the boot loader answered '" + line + "' where '" + std::string(want) + "' was due"};
    }
    return {};
}

Status Client::Command(const std::string& line, milliseconds timeout)
{
    if (auto s = Send(line + "\r\n"); !s.ok()) {
        return s;
    }
    std::string answer;
    for (;;) {
        if (auto s = ReadLine(answer, timeout); !s.ok()) {
            s.message += " to '" + line + "'";
            return s;
        }
        if (answer != line) {
            break;  // anything but the echo of the command itself
        }
    }
    std::uint32_t code = 0;
    if (!ParseDecimal(answer, code)) {
        return {kBadAnswer, "the boot loader answered '" + answer + "' to '" + line + "'"};
    }
    if (code != 0) {
        return {static_cast<int>(code), "'" + line + "' failed: " + ReturnCodeName(static_cast<int>(code)) + " (" +
                                            std::to_string(code) + ")"};
    }
    return {};
}

Status Client::Synchronize(std::uint32_t crystal_khz)
{
    bool synchronized = false;
    for (int attempt = 0; attempt < options_.sync_attempts && !synchronized; ++attempt) {
        port_.DiscardInput();
        pending_.clear();
        if (auto s = Send("?"); !s.ok()) {
            return s;
        }
        std::string line;
        if (ReadLine(line, options_.sync_timeout).ok()) {
            // Some boot loaders echo the '?' before their answer.
            line.erase(0, line.find_first_not_of('?'));
            synchronized = line == "Synchronized";
            if (synchronized) {
                break;
            }
        }
        // A line break ends whatever partial line the boot loader holds, so that the next '?' starts
        // afresh; a boot loader still synchronised from an earlier session answers it with a code.
        if (auto s = Send("\r\n"); !s.ok()) {
            return s;
        }
        std::uint32_t code = 0;
        while (ReadLine(line, options_.sync_timeout).ok()) {
            if (ParseDecimal(line, code)) {
                pending_.clear();
                return Command("A 0", options_.answer_timeout);
            }
        }
    }
    if (!synchronized) {
        return {kTimedOut, "no boot loader answered '?'"};
    }
    // With echo on, each line comes back before its answer.
    const std::string khz = std::to_string(crystal_khz);
    for (const std::string& step : {std::string("Synchronized"), khz}) {
        if (auto s = Send(step + "\r\n"); !s.ok()) {
            return s;
        }
        std::string line;
        if (auto s = ReadLine(line, options_.answer_timeout); !s.ok()) {
            return s;
        }
        if (line == step) {
            if (auto s = Expect("OK", options_.answer_timeout); !s.ok()) {
                return s;
            }
        } else if (line != "OK") {
            return {kBadAnswer, "the boot loader answered '" + line + "' to the handshake"};
        }
    }
    // Echo off: an echoed line would cost a round trip per data line.
    return Command("A 0", options_.answer_timeout);
}

Status Client::Unlock()
{
    return Command("U " + std::to_string(kUnlockCode), options_.answer_timeout);
}

Status Client::ReadPartId(std::uint32_t& id)
{
    if (auto s = Command("J", options_.answer_timeout); !s.ok()) {
        return s;
    }
    return ReadNumber(id, "the part identification");
}

Status Client::ReadBootCodeVersion(std::uint32_t& major, std::uint32_t& minor)
{
    if (auto s = Command("K", options_.answer_timeout); !s.ok()) {
        return s;
    }
    if (auto s = ReadNumber(major, "the boot code version"); !s.ok()) {
        return s;
    }
    return ReadNumber(minor, "the boot code version");
}

Status Client::Prepare(int first, int last)
{
    return Command("P " + std::to_string(first) + " " + std::to_string(last), options_.answer_timeout);
}

Status Client::Erase(int first, int last)
{
    return Command("E " + std::to_string(first) + " " + std::to_string(last), options_.erase_timeout);
}

Status Client::BlankCheck(int first, int last, bool& blank)
{
    blank = true;
    auto s = Command("I " + std::to_string(first) + " " + std::to_string(last), options_.erase_timeout);
    if (s.code == 8) {
        std::uint32_t offset = 0;
        std::uint32_t value = 0;
        if (auto r = ReadNumber(offset, "the first word not blank"); !r.ok()) {
            return r;
        }
        if (auto r = ReadNumber(value, "the first word not blank"); !r.ok()) {
            return r;
        }
        blank = false;
        return {};
    }
    return s;
}

Status Client::WriteToRam(std::uint32_t address, const std::uint8_t* data, std::size_t count)
{
    if (address % 4 != 0 || count % 4 != 0 || count == 0) {
        return {kRefused, "a write to RAM needs a word-aligned address and a count that is a multiple of 4"};
    }
    if (auto s = Command("W " + std::to_string(address) + " " + std::to_string(count), options_.answer_timeout); !s.ok()) {
        return s;
    }
    for (std::size_t block = 0; block < count; block += kBlockBytes) {
        const std::size_t size = std::min(kBlockBytes, count - block);
        std::string text;
        text.reserve(size * 63 / kLineBytes + 80);
        std::uint32_t sum = 0;
        for (std::size_t at = block; at < block + size; at += kLineBytes) {
            const std::size_t n = std::min(kLineBytes, block + size - at);
            text += UuEncodeLine(data + at, n);
            text += "\r\n";
        }
        for (std::size_t i = block; i < block + size; ++i) {
            sum += data[i];
        }
        text += std::to_string(sum) + "\r\n";
        for (int attempt = 1;; ++attempt) {
            if (auto s = Send(text); !s.ok()) {
                return s;
            }
            std::string answer;
            if (auto s = ReadLine(answer, options_.answer_timeout); !s.ok()) {
                s.message += " to a data block";
                return s;
            }
            if (answer == "OK") {
                break;
            }
            if (answer != "RESEND") {
                return {kBadAnswer, "the boot loader answered '" + answer + "' to a data block"};
            }
            if (attempt >= options_.block_tries) {
                return {kRetriesSpent, "the boot loader asked for a data block " + std::to_string(attempt) +
                                           " times; the line is too noisy"};
            }
        }
    }
    return {};
}

Status Client::CopyRamToFlash(std::uint32_t flash, std::uint32_t ram, std::uint32_t count)
{
    return Command("C " + std::to_string(flash) + " " + std::to_string(ram) + " " + std::to_string(count),
                   options_.answer_timeout);
}

Status Client::ReadMemory(std::uint32_t address, std::uint32_t count, std::uint8_t* out, const Progress& progress)
{
    if (address % 4 != 0 || count % 4 != 0 || count == 0) {
        return {kRefused, "a read needs a word-aligned address and a count that is a multiple of 4"};
    }
    if (auto s = Command("R " + std::to_string(address) + " " + std::to_string(count), options_.answer_timeout); !s.ok()) {
        return s;
    }
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t done = 0; done < count;) {
        const std::size_t size = std::min<std::size_t>(kBlockBytes, count - done);
        const std::size_t lines = (size + kLineBytes - 1) / kLineBytes;
        for (int attempt = 1;; ++attempt) {
            bytes.clear();
            bool sound = true;
            std::string line;
            for (std::size_t i = 0; i < lines && sound; ++i) {
                if (auto s = ReadLine(line, options_.answer_timeout); !s.ok()) {
                    port_.Write(std::string_view(&kEscape, 1));
                    s.message += " (data of a read)";
                    return s;
                }
                sound = UuDecodeLine(line, bytes);
            }
            std::uint32_t sum = 0;
            std::uint32_t want = 0;
            if (sound) {
                const auto s = ReadNumber(want, "the checksum of a read");
                if (s.code == kBadAnswer) {
                    sound = false;
                } else if (!s.ok()) {
                    port_.Write(std::string_view(&kEscape, 1));
                    return s;
                }
                for (const auto b : bytes) {
                    sum += b;
                }
            }
            if (sound && bytes.size() == size && sum == want) {
                if (auto s = Send("OK\r\n"); !s.ok()) {
                    return s;
                }
                std::copy(bytes.begin(), bytes.end(), out + done);
                break;
            }
            if (attempt >= options_.block_tries) {
                port_.Write(std::string_view(&kEscape, 1));
                return {kRetriesSpent, "a block of the read failed its checksum " + std::to_string(attempt) + " times"};
            }
            // Whatever is left of the damaged block goes before it is asked for again.
            std::string drain;
            while (!port_.Read(drain, milliseconds(50))) {
                drain.clear();
            }
            pending_.clear();
            if (auto s = Send("RESEND\r\n"); !s.ok()) {
                return s;
            }
        }
        done += static_cast<std::uint32_t>(size);
        if (progress) {
            progress(done, count);
        }
    }
    return {};
}

Status Client::Compare(std::uint32_t a, std::uint32_t b, std::uint32_t count, bool& same, std::uint32_t& offset)
{
    same = true;
    offset = 0;
    auto s = Command("M " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(count),
                     options_.answer_timeout);
    if (s.code == 10) {
        same = false;
        return ReadNumber(offset, "the offset of the first difference");
    }
    return s;
}

Status Client::Go(std::uint32_t address)
{
    return Command("G " + std::to_string(address) + " T", options_.answer_timeout);
}

}  // namespace torvik::platform::isp
