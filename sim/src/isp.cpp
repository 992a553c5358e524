#include <sim/isp.hpp>

#include <algorithm>
#include <charconv>

namespace torvik::sim {

namespace {

// Return codes.
constexpr int kSuccess = 0;
constexpr int kInvalidCommand = 1;
constexpr int kSrcAddrError = 2;
constexpr int kDstAddrError = 3;
constexpr int kSrcAddrNotMapped = 4;
constexpr int kDstAddrNotMapped = 5;
constexpr int kCountError = 6;
constexpr int kInvalidSector = 7;
constexpr int kSectorNotBlank = 8;
constexpr int kSectorNotPrepared = 9;
constexpr int kCompareError = 10;
constexpr int kParamError = 12;
constexpr int kAddrError = 13;
constexpr int kAddrNotMapped = 14;
constexpr int kCmdLocked = 15;
constexpr int kInvalidCode = 16;
constexpr int kInvalidBaudRate = 17;
constexpr int kInvalidStopBit = 18;
constexpr int kCrpEnabled = 19;
// Already answered (W, R and G send their code before their data or jump).
constexpr int kAnswered = -1;

// Command letters.
constexpr char kCmdUnlock = 'U';
constexpr char kCmdBaud = 'B';
constexpr char kCmdEcho = 'A';
constexpr char kCmdWrite = 'W';
constexpr char kCmdRead = 'R';
constexpr char kCmdPrepare = 'P';
constexpr char kCmdCopy = 'C';
constexpr char kCmdGo = 'G';
constexpr char kCmdErase = 'E';
constexpr char kCmdBlankCheck = 'I';
constexpr char kCmdPartId = 'J';
constexpr char kCmdBootCode = 'K';
constexpr char kCmdCompare = 'M';
constexpr char kCmdSerial = 'N';

constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint32_t kUnlockCode = 23130;
constexpr std::uint32_t kCrpWord = 0x2FC;
constexpr std::uint32_t kCrp1 = 0x12345678;
constexpr std::uint32_t kCrp2 = 0x87654321;
constexpr std::uint32_t kFlashEnd = DeviceState::kFlashSize;
constexpr std::uint32_t kRamBase = DeviceState::kRamBase;
constexpr std::uint32_t kRamEnd = kRamBase + DeviceState::kRamSize;
// RAM that W may write: below are the handler's variables, above its stack and flash buffers.
constexpr std::uint32_t kUserRamStart = 0x10000200;
constexpr std::uint32_t kUserRamEnd = 0x10007EE0;
constexpr std::uint32_t kRomOverlayEnd = 0x200;
constexpr std::uint32_t kBaudRates[] = {9600, 19200, 38400, 57600, 115200, 230400};
constexpr std::uint32_t kCopySizes[] = {256, 512, 1024, 4096};
constexpr std::size_t kLineBytes = 45;
constexpr std::size_t kBlockLines = 20;
constexpr std::size_t kMaxLine = 128;
// Flash times: one erase (a run of sectors), and programming per 256 bytes.
constexpr std::uint32_t kEraseUs = 100000;
constexpr std::uint32_t kProgramUsPer256 = 1000;

void SendNumber(Output& out, std::uint64_t value)
{
    out.Send(std::to_string(value));
    out.Send("\r\n");
}

// An unsigned 32-bit decimal, nothing else.
bool ParseNumber(std::string_view text, std::uint32_t& value)
{
    if (text.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool InRange(std::uint32_t address, std::uint32_t count, std::uint32_t begin, std::uint32_t end)
{
    return address >= begin && address <= end && count <= end - address;
}

bool Mapped(std::uint32_t address, std::uint32_t count)
{
    return InRange(address, count, 0, kFlashEnd) || InRange(address, count, kRamBase, kRamEnd);
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8U) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16U) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24U);
}

// One UU line: a length character, then groups of four 6-bit characters. Space and backquote both mean 0.
bool DecodeUu(std::string_view line, std::vector<std::uint8_t>& bytes)
{
    if (line.empty()) {
        return false;
    }
    for (const char c : line) {
        if (c < 0x20 || c > 0x60) {
            return false;
        }
    }
    auto value = [](char c) { return static_cast<std::uint32_t>((c - 0x20) & 0x3F); };
    const std::size_t n = value(line[0]);
    if (n == 0 || n > kLineBytes || line.size() != 1 + 4 * ((n + 2) / 3)) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t group = 1 + 4 * (i / 3);
        const std::uint32_t word = (value(line[group]) << 18U) | (value(line[group + 1]) << 12U) |
                                   (value(line[group + 2]) << 6U) | value(line[group + 3]);
        bytes.push_back(static_cast<std::uint8_t>(word >> (16U - 8U * (i % 3))));
    }
    return true;
}

std::vector<std::string_view> Split(std::string_view line)
{
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < line.size()) {
        if (line[at] == ' ') {
            ++at;
            continue;
        }
        const std::size_t end = std::min(line.find(' ', at), line.size());
        tokens.push_back(line.substr(at, end - at));
        at = end;
    }
    return tokens;
}

}  // namespace

IspSession::IspSession(DeviceState& device, IspQuirks quirks) : device_(device), quirks_(quirks)
{
    Reset();
}

int IspSession::SectorOf(std::uint32_t address)
{
    return address < 0x10000 ? static_cast<int>(address / 0x1000) : 16 + static_cast<int>((address - 0x10000) / 0x8000);
}

std::uint32_t IspSession::SectorStart(int sector)
{
    const auto n = static_cast<std::uint32_t>(sector);
    return n < 16 ? n * 0x1000 : 0x10000 + (n - 16) * 0x8000;
}

void IspSession::Reset()
{
    state_ = State::Autobaud;
    echo_ = true;
    unlocked_ = false;
    prepared_.fill(false);
    line_.clear();
    line_overflow_ = false;
    after_cr_ = false;
    transfer_ = {};
    const std::uint32_t crp = Le32(device_.flash, kCrpWord);
    protection_ = crp == kCrp1 ? Protection::Crp1 : crp == kCrp2 ? Protection::Crp2 : Protection::None;
}

void IspSession::SetCorruptEveryNth(std::uint32_t n)
{
    if (n != corrupt_nth_) {
        corrupt_nth_ = n;
        read_blocks_ = 0;
        write_blocks_ = 0;
    }
}

std::size_t IspSession::Receive(const std::uint8_t* bytes, std::size_t count, std::uint32_t line_baud, Output& out)
{
    jumped_ = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (state_ == State::Autobaud) {
            // Autobaud measures the '?'; everything else is noise to it.
            if (byte == '?' && (quirks_.max_sync_baud == 0 || line_baud <= quirks_.max_sync_baud)) {
                out.Send("Synchronized\r\n");
                state_ = State::WaitSync;
                line_.clear();
                line_overflow_ = false;
                after_cr_ = false;
            }
            continue;
        }
        if (byte == kEscape) {
            line_.clear();
            line_overflow_ = false;
            if (state_ == State::WriteData || state_ == State::ReadData) {
                state_ = State::Command;
            }
            continue;
        }
        const bool lf_of_crlf = byte == '\n' && after_cr_;
        after_cr_ = byte == '\r';
        if (lf_of_crlf) {
            continue;
        }
        if (byte == '\r' || byte == '\n') {
            if (echo_) {
                out.Send(quirks_.echo_crlf ? "\r\n" : "\r");
            }
            const std::string line = line_overflow_ ? std::string(kMaxLine + 1, '?') : line_;
            line_.clear();
            line_overflow_ = false;
            Line(line, out);
            if (jumped_) {
                return i + 1;
            }
            continue;
        }
        if (echo_) {
            out.Send(std::string_view(reinterpret_cast<const char*>(&bytes[i]), 1));
        }
        if (line_.size() < kMaxLine) {
            line_.push_back(static_cast<char>(byte));
        } else {
            line_overflow_ = true;
        }
    }
    return count;
}

void IspSession::Line(std::string_view line, Output& out)
{
    if (line.empty()) {
        return;  // stray line ends
    }
    switch (state_) {
        case State::Autobaud:
            return;
        case State::WaitSync:
            if (line == "Synchronized") {
                out.Send("OK\r\n");
                state_ = State::WaitFrequency;
            } else {
                state_ = State::Autobaud;
            }
            return;
        case State::WaitFrequency: {
            std::uint32_t khz = 0;
            if (ParseNumber(line, khz)) {
                out.Send("OK\r\n");
                state_ = State::Command;
            } else {
                state_ = State::Autobaud;
            }
            return;
        }
        case State::Command:
            return Command(line, out);
        case State::WriteData:
            return WriteLine(line, out);
        case State::ReadData:
            if (line == "OK") {
                transfer_.address += std::min<std::uint32_t>(transfer_.left, kLineBytes * kBlockLines);
                transfer_.left -= std::min<std::uint32_t>(transfer_.left, kLineBytes * kBlockLines);
                if (transfer_.left == 0) {
                    state_ = State::Command;
                    return;
                }
                return SendReadBlock(out);
            }
            if (line == "RESEND") {
                return SendReadBlock(out);
            }
            return;  // anything else: still waiting for the host's verdict
    }
}

void IspSession::Command(std::string_view line, Output& out)
{
    const auto tokens = Split(line);
    if (tokens.empty() || tokens[0].size() != 1) {
        return SendNumber(out, kInvalidCommand);
    }
    const char letter = tokens[0][0];
    // G's last parameter is a letter; every other parameter is a number.
    std::string_view go_mode;
    std::size_t numbers = tokens.size() - 1;
    if (letter == kCmdGo && tokens.size() == 3) {
        go_mode = tokens[2];
        numbers = 1;
    }
    std::vector<std::uint32_t> a(numbers);
    bool parsed = line.size() <= kMaxLine;
    for (std::size_t i = 0; i < numbers; ++i) {
        parsed = parsed && ParseNumber(tokens[i + 1], a[i]);
    }
    auto arity = [&](std::size_t n) { return parsed && a.size() == n; };

    int code = kInvalidCommand;
    switch (letter) {
        case kCmdUnlock:
            code = arity(1) ? Unlock(a) : kParamError;
            break;
        case kCmdBaud:
            code = arity(2) ? Baud(a) : kParamError;
            break;
        case kCmdEcho:
            code = arity(1) ? Echo(a) : kParamError;
            break;
        case kCmdWrite:
            code = arity(2) ? WriteRam(a, out) : kParamError;
            break;
        case kCmdRead:
            code = arity(2) ? ReadMemory(a, out) : kParamError;
            break;
        case kCmdPrepare:
            code = arity(2) ? Prepare(a) : kParamError;
            break;
        case kCmdCopy:
            code = arity(3) ? Copy(a, out) : kParamError;
            break;
        case kCmdGo:
            code = arity(1) && !go_mode.empty() ? Go(a, go_mode, out) : kParamError;
            break;
        case kCmdErase:
            code = arity(2) ? Erase(a, out) : kParamError;
            break;
        case kCmdBlankCheck:
            code = arity(2) ? BlankCheck(a, out) : kParamError;
            break;
        case kCmdPartId:
            if (!arity(0)) {
                code = kParamError;
                break;
            }
            SendNumber(out, kSuccess);
            SendNumber(out, kPartId);
            return;
        case kCmdBootCode:
            if (!arity(0)) {
                code = kParamError;
                break;
            }
            SendNumber(out, kSuccess);
            SendNumber(out, quirks_.k_minor_first ? kBootCodeMinor : kBootCodeMajor);
            SendNumber(out, quirks_.k_minor_first ? kBootCodeMajor : kBootCodeMinor);
            return;
        case kCmdCompare:
            code = arity(3) ? Compare(a, out) : kParamError;
            break;
        case kCmdSerial:
            if (!arity(0)) {
                code = kParamError;
                break;
            }
            SendNumber(out, kSuccess);
            for (const std::uint32_t word : kSerialNumber) {
                SendNumber(out, word);
            }
            return;
        default:
            break;
    }
    if (code != kAnswered) {
        SendNumber(out, static_cast<std::uint64_t>(code));
    }
}

int IspSession::Unlock(const std::vector<std::uint32_t>& a)
{
    if (a[0] != kUnlockCode) {
        return kInvalidCode;
    }
    unlocked_ = true;
    return kSuccess;
}

int IspSession::Baud(const std::vector<std::uint32_t>& a)
{
    if (std::find(std::begin(kBaudRates), std::end(kBaudRates), a[0]) == std::end(kBaudRates)) {
        return kInvalidBaudRate;
    }
    if (a[1] != 1 && a[1] != 2) {
        return kInvalidStopBit;
    }
    // A pseudo-terminal has no rate of its own: the host sets its side after reading the answer.
    return kSuccess;
}

int IspSession::Echo(const std::vector<std::uint32_t>& a)
{
    if (a[0] > 1) {
        return kParamError;
    }
    echo_ = a[0] == 1;
    return kSuccess;
}

int IspSession::WriteRam(const std::vector<std::uint32_t>& a, Output& out)
{
    const std::uint32_t address = a[0];
    const std::uint32_t count = a[1];
    if (protection_ == Protection::Crp2 || (protection_ == Protection::Crp1 && address < kUserRamStart)) {
        return kCrpEnabled;
    }
    if (address % 4 != 0) {
        return kAddrError;
    }
    if (count % 4 != 0) {
        return kCountError;
    }
    if (!InRange(address, count, kUserRamStart, kUserRamEnd)) {
        return kAddrNotMapped;
    }
    SendNumber(out, kSuccess);
    if (count > 0) {
        transfer_ = Transfer{address, count, {}, 0, 0, false};
        state_ = State::WriteData;
    }
    return kAnswered;
}

void IspSession::WriteLine(std::string_view line, Output& out)
{
    Transfer& t = transfer_;
    if (t.lines < kBlockLines && t.claimed < t.left) {
        // A line that does not decode still ends the block where its length character says (a full line
        // if that is no length either), so the checksum line is found where the host sends it.
        const std::size_t n = static_cast<std::size_t>((line[0] - 0x20) & 0x3F);
        t.claimed += static_cast<std::uint32_t>(n >= 1 && n <= kLineBytes ? n : kLineBytes);
        std::vector<std::uint8_t> bytes;
        if (!DecodeUu(line, bytes) || t.block.size() + bytes.size() > t.left) {
            t.bad = true;
        } else {
            t.block.insert(t.block.end(), bytes.begin(), bytes.end());
        }
        ++t.lines;
        return;
    }
    // The checksum line that ends the block.
    std::uint32_t sum = 0;
    bool good = ParseNumber(line, sum) && !t.bad;
    std::uint32_t actual = 0;
    for (const std::uint8_t b : t.block) {
        actual += b;
    }
    good = good && sum == actual;
    ++write_blocks_;
    if (corrupt_nth_ != 0 && write_blocks_ % corrupt_nth_ == 0) {
        good = false;
    }
    if (good) {
        std::copy(t.block.begin(), t.block.end(), device_.ram.begin() + (t.address - kRamBase));
        t.address += static_cast<std::uint32_t>(t.block.size());
        t.left -= static_cast<std::uint32_t>(t.block.size());
        out.Send("OK\r\n");
        if (t.left == 0) {
            state_ = State::Command;
        }
    } else {
        out.Send("RESEND\r\n");
    }
    t.block.clear();
    t.lines = 0;
    t.claimed = 0;
    t.bad = false;
}

std::uint8_t IspSession::ReadByte(std::uint32_t address) const
{
    if (address < kFlashEnd) {
        if (quirks_.rom_overlay && address < kRomOverlayEnd) {
            // A fixed stand-in for the boot ROM's first bytes.
            return static_cast<std::uint8_t>((address * 37U + 11U) ^ 0x5AU);
        }
        return device_.flash[address];
    }
    if (address >= kRamBase && address < kRamEnd) {
        return device_.ram[address - kRamBase];
    }
    return 0;
}

int IspSession::ReadMemory(const std::vector<std::uint32_t>& a, Output& out)
{
    if (protection_ != Protection::None) {
        return kCrpEnabled;
    }
    if (a[0] % 4 != 0) {
        return kAddrError;
    }
    if (a[1] % 4 != 0) {
        return kCountError;
    }
    if (!Mapped(a[0], a[1])) {
        return kAddrNotMapped;
    }
    SendNumber(out, kSuccess);
    if (a[1] > 0) {
        transfer_ = Transfer{a[0], a[1], {}, 0, 0, false};
        state_ = State::ReadData;
        SendReadBlock(out);
    }
    return kAnswered;
}

void IspSession::SendReadBlock(Output& out)
{
    const std::uint32_t size = std::min<std::uint32_t>(transfer_.left, kLineBytes * kBlockLines);
    const std::uint32_t end = transfer_.address + size;
    std::uint32_t sum = 0;
    auto sextet = [&](std::uint32_t v) {
        return v == 0 ? (quirks_.zero_as_space ? ' ' : '`') : static_cast<char>(0x20 + v);
    };
    for (std::uint32_t at = transfer_.address; at < end; at += kLineBytes) {
        const std::uint32_t n = std::min<std::uint32_t>(end - at, kLineBytes);
        std::string line(1, static_cast<char>(0x20 + n));
        for (std::uint32_t g = 0; g < n; g += 3) {
            std::uint32_t word = 0;
            for (std::uint32_t k = 0; k < 3; ++k) {
                const std::uint32_t address = at + g + k;
                std::uint8_t byte = 0;
                if (g + k < n) {
                    byte = ReadByte(address);
                    sum += byte;
                } else if (quirks_.pad_with_memory) {
                    byte = ReadByte(address);
                }
                word = (word << 8U) | byte;
            }
            for (int shift = 18; shift >= 0; shift -= 6) {
                line.push_back(sextet((word >> static_cast<unsigned>(shift)) & 0x3FU));
            }
        }
        line += "\r\n";
        out.Send(line);
    }
    ++read_blocks_;
    if (corrupt_nth_ != 0 && read_blocks_ % corrupt_nth_ == 0) {
        ++sum;
    }
    SendNumber(out, sum);
}

int IspSession::Prepare(const std::vector<std::uint32_t>& a)
{
    if (a[0] > a[1] || a[1] >= kSectors) {
        return kInvalidSector;
    }
    std::fill(prepared_.begin() + a[0], prepared_.begin() + a[1] + 1, true);
    return kSuccess;
}

bool IspSession::Prepared(int first, int last) const
{
    return std::all_of(prepared_.begin() + first, prepared_.begin() + last + 1, [](bool p) { return p; });
}

int IspSession::Copy(const std::vector<std::uint32_t>& a, Output& out)
{
    const std::uint32_t flash = a[0];
    const std::uint32_t ram = a[1];
    const std::uint32_t count = a[2];
    if (!unlocked_) {
        return kCmdLocked;
    }
    if (protection_ == Protection::Crp2) {
        return kCrpEnabled;
    }
    if (flash % 256 != 0) {
        return kDstAddrError;
    }
    if (ram % 4 != 0) {
        return kSrcAddrError;
    }
    if (std::find(std::begin(kCopySizes), std::end(kCopySizes), count) == std::end(kCopySizes)) {
        return kCountError;
    }
    if (!InRange(flash, count, 0, kFlashEnd)) {
        return kDstAddrNotMapped;
    }
    if (!InRange(ram, count, kRamBase, kRamEnd)) {
        return kSrcAddrNotMapped;
    }
    const int first = SectorOf(flash);
    const int last = SectorOf(flash + count - 1);
    if (protection_ == Protection::Crp1 && first == 0) {
        return kCrpEnabled;
    }
    if (!Prepared(first, last)) {
        return kSectorNotPrepared;
    }
    // Programming only clears bits.
    for (std::uint32_t i = 0; i < count; ++i) {
        device_.flash[flash + i] &= device_.ram[ram - kRamBase + i];
    }
    device_.save_soon = true;
    prepared_.fill(false);
    out.Pause(count / 256 * kProgramUsPer256);
    return kSuccess;
}

int IspSession::Go(const std::vector<std::uint32_t>& a, std::string_view mode, Output& out)
{
    if (!unlocked_) {
        return kCmdLocked;
    }
    if (mode != "T") {
        return kParamError;
    }
    if (protection_ != Protection::None) {
        return kCrpEnabled;
    }
    if (a[0] % 4 != 0) {
        return kAddrError;
    }
    if (!Mapped(a[0], 4)) {
        return kAddrNotMapped;
    }
    SendNumber(out, kSuccess);
    // The routines the host starts here end in a reset; the device comes back in its application.
    device_.mode = SimMode::Application;
    state_ = State::Autobaud;
    jumped_ = true;
    return kAnswered;
}

int IspSession::Erase(const std::vector<std::uint32_t>& a, Output& out)
{
    if (!unlocked_) {
        return kCmdLocked;
    }
    if (a[0] > a[1] || a[1] >= kSectors) {
        return kInvalidSector;
    }
    const bool all = a[0] == 0 && a[1] == kSectors - 1;
    if ((protection_ == Protection::Crp2 && !all) || (protection_ == Protection::Crp1 && a[0] == 0 && !all)) {
        return kCrpEnabled;
    }
    const int first = static_cast<int>(a[0]);
    const int last = static_cast<int>(a[1]);
    if (!Prepared(first, last)) {
        return kSectorNotPrepared;
    }
    const std::uint32_t end = last + 1 < kSectors ? SectorStart(last + 1) : kFlashEnd;
    std::fill(device_.flash.begin() + SectorStart(first), device_.flash.begin() + end, 0xFF);
    device_.save_soon = true;
    prepared_.fill(false);
    out.Pause(kEraseUs);
    return kSuccess;
}

int IspSession::BlankCheck(const std::vector<std::uint32_t>& a, Output& out)
{
    if (a[0] > a[1] || a[1] >= kSectors) {
        return kInvalidSector;
    }
    const std::uint32_t begin = SectorStart(static_cast<int>(a[0]));
    const std::uint32_t end = a[1] + 1 < kSectors ? SectorStart(static_cast<int>(a[1]) + 1) : kFlashEnd;
    for (std::uint32_t at = begin; at < end; at += 4) {
        const std::uint32_t word = Le32(device_.flash, at);
        if (word != 0xFFFFFFFFu) {
            SendNumber(out, kSectorNotBlank);
            // Under protection the position and contents stay hidden.
            const bool hidden = protection_ != Protection::None;
            SendNumber(out, hidden ? 0 : (quirks_.i_offset_absolute ? at : at - begin));
            SendNumber(out, hidden ? 0 : word);
            return kAnswered;
        }
    }
    return kSuccess;
}

int IspSession::Compare(const std::vector<std::uint32_t>& a, Output& out)
{
    if (protection_ != Protection::None) {
        return kCrpEnabled;
    }
    if (a[0] % 4 != 0 || a[1] % 4 != 0) {
        return kAddrError;
    }
    if (a[2] % 4 != 0) {
        return kCountError;
    }
    if (!Mapped(a[0], a[2]) || !Mapped(a[1], a[2])) {
        return kAddrNotMapped;
    }
    for (std::uint32_t i = 0; i < a[2]; ++i) {
        if (ReadByte(a[0] + i) != ReadByte(a[1] + i)) {
            SendNumber(out, kCompareError);
            SendNumber(out, i & ~3U);  // offset of the first word that differs
            return kAnswered;
        }
    }
    return kSuccess;
}

}  // namespace torvik::sim
