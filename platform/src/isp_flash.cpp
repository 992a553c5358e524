#include <platform/isp_flash.hpp>

#include <hexsign/ihex.hpp>
#include <platform/files.hpp>
#include <platform/ports.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace torvik::platform::isp {

namespace {

constexpr std::uint32_t kPage = 256;
constexpr std::uint32_t kPieces[] = {4096, 1024, 512, 256};
constexpr std::uint32_t kReadChunk = 0x8000;

std::string Hex(std::uint32_t value, int digits = 5)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Runs of consecutive 256-byte pages inside one sector that the image sets any byte of, in the order
// they are programmed: sector 0 last, so that a session cut short leaves no valid code behind.
struct Run {
    std::uint32_t start;
    std::uint32_t size;
};

std::vector<Run> FlashRuns(const MemoryImage& image, std::uint32_t from = 0)
{
    std::vector<Run> runs;
    std::vector<Run> sectorZero;
    for (int sector = 0; sector < kSectorCount; ++sector) {
        auto& into = sector == 0 ? sectorZero : runs;
        for (std::uint32_t page = std::max(SectorStart(sector), from & ~(kPage - 1)); page <= SectorEnd(sector);
             page += kPage) {
            const auto first = image.flash_set.begin() + page;
            const bool used = std::find(first, first + kPage, true) != first + kPage;
            if (!used) {
                continue;
            }
            if (!into.empty() && into.back().start + into.back().size == page && SectorOf(into.back().start) == sector) {
                into.back().size += kPage;
            } else {
                into.push_back({page, kPage});
            }
        }
    }
    runs.insert(runs.end(), sectorZero.begin(), sectorZero.end());
    return runs;
}

class SerialLibrary final : public FlashLibrary {
public:
    void Prepare() override {}

    int Connect(const ConnectOptions& options) override
    {
        std::lock_guard lock(mutex_);
        CloseLocked();
        const auto path = ResolvePortName(options.port);
        if (!path) {
            return Fail("'" + options.port + "' names no serial port");
        }
        std::error_code ec;
        port_ = OpenSerialPort(*path, ec);
        if (!port_) {
            return Fail("cannot open " + options.port + ": " + ec.message());
        }
        if (options.post_open_delay_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options.post_open_delay_ms));
        }
        EnterBootLoader(options);
        client_ = std::make_unique<Client>(*port_);
        std::vector<std::uint32_t> rates = {options.baud};
        for (const std::uint32_t fallback : {115200u, 57600u}) {
            if (fallback < options.baud || options.baud == 0) {
                rates.push_back(fallback);
            }
        }
        Status status;
        std::string tried;
        for (const auto rate : rates) {
            if (rate == 0) {
                continue;
            }
            port_->SetBaud(rate);
            status = client_->Synchronize(options.crystal_khz);
            if (status.ok()) {
                break;
            }
            tried += (tried.empty() ? "" : ", ") + std::to_string(rate);
        }
        if (!status.ok()) {
            const std::string why = "no boot loader answered on " + options.port + " at " + tried + " baud";
            CloseLocked();
            return Fail(why);
        }
        if (const auto s = client_->Unlock(); !s.ok()) {
            CloseLocked();
            return Fail(s.message);
        }
        identified_ = false;
        return 1;
    }

    int FollowUp() override
    {
        std::lock_guard lock(mutex_);
        if (!client_) {
            return Fail("not connected");
        }
        if (identified_) {
            return 1;
        }
        ChipIdentity id;
        if (const auto s = client_->ReadPartId(id.part_id); !s.ok()) {
            return Fail(s.message);
        }
        if (id.part_id != kLpc1769PartId) {
            return Fail("the chip is no LPC1769 (part identification " + Hex(id.part_id, 8) + ")");
        }
        if (const auto s = client_->ReadBootCodeVersion(id.boot_major, id.boot_minor); !s.ok()) {
            return Fail(s.message);
        }
        identity_ = id;
        identified_ = true;
        return 1;
    }

    void Disconnect() override
    {
        std::lock_guard lock(mutex_);
        CloseLocked();
    }

    int EraseSectors(int, const int* flags, int, ProgressCallback progress, void* context, const char*) override
    {
        std::lock_guard lock(mutex_);
        if (!client_ || flags == nullptr) {
            return Fail("not connected");
        }
        for (int sector = kSectorCount; sector < 128; ++sector) {
            if (flags[sector] != 0) {
                return Fail("sector " + std::to_string(sector) + " does not exist on an LPC1769");
            }
        }
        std::vector<std::pair<int, int>> runs;
        for (int sector = 0; sector < kSectorCount; ++sector) {
            if (flags[sector] == 0) {
                continue;
            }
            if (!runs.empty() && runs.back().second == sector - 1) {
                runs.back().second = sector;
            } else {
                runs.emplace_back(sector, sector);
            }
        }
        unsigned long total = 0;
        for (const auto& [first, last] : runs) {
            total += SectorEnd(last) - SectorStart(first) + 1;
        }
        unsigned long done = 0;
        for (const auto& run : runs) {
            const int first = run.first;
            const int last = run.second;
            if (const auto s = PrepareAnd([&] { return client_->Erase(first, last); }, first, last); !s.ok()) {
                return Fail(s.message);
            }
            done += SectorEnd(last) - SectorStart(first) + 1;
            Report(progress, context, done, total);
        }
        return 1;
    }

    int BlankCheck(std::uint32_t start, std::uint32_t end) override
    {
        std::lock_guard lock(mutex_);
        const int first = SectorOf(start);
        const int last = SectorOf(end);
        if (!client_ || first < 0 || last < first) {
            return Fail(client_ ? "no sectors at " + Hex(start) + " to " + Hex(end) : "not connected");
        }
        bool blank = false;
        if (const auto s = client_->BlankCheck(first, last, blank); !s.ok()) {
            return Fail(s.message);
        }
        return blank ? 2 : 3;
    }

    int ProgramHexFile(const char* path, ProgressCallback progress, void* context) override
    {
        std::lock_guard lock(mutex_);
        MemoryImage image;
        if (const int loaded = LoadForSession(path, image); loaded != 1) {
            return loaded;
        }
        if (const auto crp = ProtectionValue(image); crp != 0 && !allow_crp_) {
            return Fail("the file puts " + Hex(crp, 8) + " at the code read protection word " + Hex(kCrpAddress, 3) +
                        ", which locks the chip; it is programmed only when that is asked for explicitly");
        }
        const auto runs = FlashRuns(image);
        unsigned long total = static_cast<unsigned long>(image.ram_bytes);
        for (const auto& run : runs) {
            total += run.size;
        }
        unsigned long done = 0;
        std::vector<std::uint8_t> piece;
        for (const auto& run : runs) {
            const int sector = SectorOf(run.start);
            for (std::uint32_t at = run.start; at < run.start + run.size;) {
                const std::uint32_t left = run.start + run.size - at;
                const std::uint32_t size = *std::find_if(std::begin(kPieces), std::end(kPieces),
                                                          [left](std::uint32_t p) { return p <= left; });
                piece.assign(image.flash.begin() + at, image.flash.begin() + at + size);
                Status s = client_->WriteToRam(kRamBuffer, piece.data(), piece.size());
                if (s.ok()) {
                    s = PrepareAnd([&] { return client_->CopyRamToFlash(at, kRamBuffer, size); }, sector, sector);
                }
                if (!s.ok()) {
                    return Fail("programming " + Hex(at) + ": " + s.message);
                }
                at += size;
                done += size;
                Report(progress, context, done, total);
            }
        }
        // RAM data last: the flash pieces pass through the boot loader's RAM buffer.
        for (std::uint32_t at = 0; at < kRamSize;) {
            if (!image.ram_set[at]) {
                ++at;
                continue;
            }
            std::uint32_t end = at;
            while (end < kRamSize && image.ram_set[end]) {
                ++end;
            }
            const std::uint32_t first = at & ~3u;
            const std::uint32_t last = (end + 3) & ~3u;
            if (kRamStart + first < kRamBuffer || kRamStart + last > kRamBufferEnd) {
                return Fail("RAM data at " + Hex(kRamStart + at, 8) + " lies in the boot loader's own RAM");
            }
            if (const auto s = client_->WriteToRam(kRamStart + first, image.ram.data() + first, last - first); !s.ok()) {
                return Fail("writing RAM at " + Hex(kRamStart + first, 8) + ": " + s.message);
            }
            done += end - at;
            Report(progress, context, done, total);
            at = end;
        }
        return 1;
    }

    int VerifyHexFile(const char* path, ProgressCallback progress, void* context) override
    {
        std::lock_guard lock(mutex_);
        MemoryImage image;
        if (const int loaded = LoadForSession(path, image); loaded != 1) {
            return loaded;
        }
        // The boot ROM hides the flash at 0x000-0x1FF from reads while the boot loader runs.
        auto runs = FlashRuns(image, kBootRomOverlayEnd);
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.start < b.start; });
        unsigned long total = 0;
        for (const auto& run : runs) {
            total += run.size;
        }
        unsigned long done = 0;
        std::vector<std::uint8_t> chip;
        for (const auto& run : runs) {
            for (std::uint32_t at = run.start; at < run.start + run.size; at += kReadChunk) {
                const std::uint32_t size = std::min(kReadChunk, run.start + run.size - at);
                chip.resize(size);
                if (const auto s = client_->ReadMemory(at, size, chip.data()); !s.ok()) {
                    return Fail("reading " + Hex(at) + " back: " + s.message);
                }
                for (std::uint32_t i = 0; i < size; ++i) {
                    if (image.flash_set[at + i] && chip[i] != image.flash[at + i]) {
                        return Fail("verification failed: flash at " + Hex(at + i) + " holds " + Hex(chip[i], 2) +
                                    ", the file " + Hex(image.flash[at + i], 2));
                    }
                }
                done += size;
                Report(progress, context, done, total);
            }
        }
        return 1;
    }

    int ReadMemory(std::uint32_t first, std::uint32_t last, std::uint8_t* out, ProgressCallback progress,
                   void* context) override
    {
        std::lock_guard lock(mutex_);
        if (!client_ || out == nullptr || last < first) {
            return Fail(client_ ? "an empty range" : "not connected");
        }
        const std::uint64_t count = std::uint64_t{last} - first + 1;
        std::vector<std::uint8_t> chunk;
        for (std::uint64_t done = 0; done < count;) {
            const std::uint32_t at = first + static_cast<std::uint32_t>(done);
            const std::uint32_t aligned = at & ~3u;
            const std::uint64_t want = std::min<std::uint64_t>(kReadChunk, count - done);
            const auto size = static_cast<std::uint32_t>((at - aligned + want + 3) & ~std::uint64_t{3});
            chunk.resize(size);
            if (const auto s = client_->ReadMemory(aligned, size, chunk.data()); !s.ok()) {
                return Fail("reading " + Hex(aligned, 8) + ": " + s.message);
            }
            std::copy_n(chunk.begin() + (at - aligned), want, out + done);
            done += want;
            Report(progress, context, static_cast<unsigned long>(done), static_cast<unsigned long>(count));
        }
        return 1;
    }

    int StartExecution(int, std::uint32_t address, int) override
    {
        std::lock_guard lock(mutex_);
        if (!client_) {
            return Fail("not connected");
        }
        const auto s = client_->Go(address & ~1u);
        // The boot loader is gone once the code runs.
        CloseLocked();
        return s.ok() ? 1 : Fail(s.message);
    }

    std::string LastError() const override
    {
        std::lock_guard lock(mutex_);
        return error_;
    }

    ChipIdentity Identity() const override
    {
        std::lock_guard lock(mutex_);
        return identity_;
    }

    void AllowCodeReadProtection(bool allow) override { allow_crp_ = allow; }

private:
    int Fail(std::string why)
    {
        error_ = std::move(why);
        return kFailed;
    }

    // The file of a program or verify call, once connected.
    int LoadForSession(const char* path, MemoryImage& image)
    {
        if (!client_ || path == nullptr) {
            return Fail("not connected");
        }
        if (const auto s = LoadHexImage(path, image); !s.ok()) {
            return Fail(s.message);
        }
        return 1;
    }

    template <typename Work>
    Status PrepareAnd(Work work, int first, int last)
    {
        if (auto s = client_->Prepare(first, last); !s.ok()) {
            return s;
        }
        return work();
    }

    static void Report(ProgressCallback progress, void* context, unsigned long done, unsigned long total)
    {
        if (progress != nullptr) {
            progress(0, done, total, context);
        }
    }

    // Holds RESET with the boot request, releases RESET, then the request, so the chip starts its boot
    // loader. A port without modem lines skips this: the device was asked into it by its own command.
    void EnterBootLoader(const ConnectOptions& options)
    {
        if (options.hw_config <= 0) {
            return;
        }
        const bool swapped = options.hw_config == 2;
        auto lines = [&](bool reset, bool request) {
            return swapped ? port_->SetLines(request, reset) : port_->SetLines(reset, request);
        };
        if (!lines(true, true)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(options.t1_ms, 0)));
        lines(false, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(options.t2_ms, 0)));
        port_->DiscardInput();
        lines(false, false);
    }

    void CloseLocked()
    {
        client_.reset();
        port_.reset();
        identified_ = false;
    }

    mutable std::mutex mutex_;
    std::unique_ptr<Port> port_;
    std::unique_ptr<Client> client_;
    bool identified_ = false;
    ChipIdentity identity_;
    std::string error_;
    std::atomic<bool> allow_crp_{false};
};

std::atomic<FlashLibrary*> g_library{nullptr};

}  // namespace

Status LoadHexImage(const std::filesystem::path& path, MemoryImage& image)
{
    std::string bytes;
    if (const auto ec = ReadWholeFile(path, bytes)) {
        return {kRefused, "cannot read '" + path.string() + "': " + ec.message()};
    }
    hexsign::IHexProblem problem{0, "no end record"};
    std::unique_ptr<std::FILE, FileCloser> in(bytes.empty() ? nullptr : fmemopen(bytes.data(), bytes.size(), "r"));
    if (!in || !hexsign::Check_IHexFile(in.get(), problem)) {
        return {kRefused, "'" + path.string() + "'" + (problem.line > 0 ? ":" + std::to_string(problem.line) : "") +
                              ": " + problem.reason};
    }
    std::rewind(in.get());
    hexsign::IHexRecord record;
    std::uint32_t base = 0;
    for (int line = 1; hexsign::Read_IHexRecord(&record, in.get()) == hexsign::kIHexOk; ++line) {
        const std::uint32_t value = static_cast<std::uint32_t>(record.data[0]) << 8u | record.data[1];
        if (record.type == 2) {
            base = value << 4u;
        } else if (record.type == 4) {
            base = value << 16u;
        } else if (record.type == 0) {
            for (int i = 0; i < record.dataLen; ++i) {
                const std::uint32_t address = base + record.address + static_cast<std::uint32_t>(i);
                if (address < kFlashSize) {
                    image.flash_bytes += image.flash_set[address] ? 0 : 1;
                    image.flash[address] = record.data[i];
                    image.flash_set[address] = true;
                } else if (address >= kRamStart && address < kRamStart + kRamSize) {
                    image.ram_bytes += image.ram_set[address - kRamStart] ? 0 : 1;
                    image.ram[address - kRamStart] = record.data[i];
                    image.ram_set[address - kRamStart] = true;
                } else {
                    return {kRefused, "'" + path.string() + "':" + std::to_string(line) + ": address " +
                                          Hex(address, 8) + " is neither flash nor RAM of an LPC1769"};
                }
            }
        }
    }
    return {};
}

std::uint32_t ProtectionValue(const MemoryImage& image)
{
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(image.flash[kCrpAddress + i]) << (8u * i);
    }
    return std::find(std::begin(kCrpValues), std::end(kCrpValues), value) != std::end(kCrpValues) ? value : 0;
}

FlashLibrary& SerialFlashLibrary()
{
    static SerialLibrary library;
    return library;
}

FlashLibrary& CurrentFlashLibrary()
{
    FlashLibrary* library = g_library.load();
    return library != nullptr ? *library : SerialFlashLibrary();
}

void SetFlashLibrary(FlashLibrary* library)
{
    g_library.store(library);
}

}  // namespace torvik::platform::isp
