// Parses two large generated DBC files and reports the throughput and the heap the model needs: one of
// 5,000 messages x 20 signals with attributes, value descriptions, comments and multiplexing, and one of
// 3,400 messages of 4 to 40 signals laid out in the statement order database editors write.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include <dbclib/dbc.hpp>

namespace {

// Heap accounting of the whole process through the replaced global operator new and delete.
// Counting is switched on only for the measured parse, so the timed runs pay nothing for it.
std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_heapNow{0};
std::atomic<std::size_t> g_heapPeak{0};

void* Allocate(std::size_t size, std::size_t alignment = 0)
{
    void* p = alignment > alignof(std::max_align_t)
                  ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                  : std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    if (g_counting.load(std::memory_order_relaxed)) {
        const std::size_t usable = malloc_usable_size(p);
        const std::size_t now = g_heapNow.fetch_add(usable) + usable;
        std::size_t peak = g_heapPeak.load();
        while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
        }
    }
    return p;
}

void Release(void* p) noexcept
{
    if (p != nullptr) {
        if (g_counting.load(std::memory_order_relaxed)) {
            g_heapNow.fetch_sub(malloc_usable_size(p));
        }
        std::free(p);
    }
}

// Reads `path` again and again; `path` is one of the files generated at build time.
void ReadDbc(benchmark::State& state, const char* path)
{
    const std::wstring widePath = std::filesystem::path(path).wstring();
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(path));
    std::int64_t items = 0;
    std::chrono::steady_clock::duration freeing{};
    for (auto _ : state) {
        auto file = std::make_unique<kq::dbclib::Dbc_File>();
        if (file->ReadFromFile(widePath) != 0) {
            state.SkipWithError("cannot read the generated DBC file");
            return;
        }
        items = static_cast<std::int64_t>(file->network->messages.size() + file->network->signals.size());
        benchmark::DoNotOptimize(file->network.get());
        // Freeing the model is not part of reading it, but it is timed on the side: on large models it
        // takes about as long.
        state.PauseTiming();
        const auto before = std::chrono::steady_clock::now();
        file.reset();
        freeing += std::chrono::steady_clock::now() - before;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.SetItemsProcessed(state.iterations() * items);  // messages and signals
    state.counters["free_ms"] = std::chrono::duration<double, std::milli>(freeing).count() /
                                static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));

    // Memory of one parse: the peak while reading (file text included) and what the model keeps.
    // Everything allocated while counting is freed while counting, so the balance stays exact.
    g_heapNow.store(0);
    g_heapPeak.store(0);
    g_counting.store(true);
    const std::size_t before = g_heapNow.load();
    std::size_t kept = 0;
    {
        kq::dbclib::Dbc_File file;
        file.ReadFromFile(widePath);
        kept = g_heapNow.load() - before;
    }
    g_counting.store(false);
    constexpr double kMiB = 1024.0 * 1024.0;
    state.counters["file_MiB"] = static_cast<double>(bytes) / kMiB;
    state.counters["peak_MiB"] = static_cast<double>(g_heapPeak.load() - before) / kMiB;
    state.counters["model_MiB"] = static_cast<double>(kept) / kMiB;
}
// Statements grouped by kind, signals in name order, comments and attributes after the messages.
BENCHMARK_CAPTURE(ReadDbc, generated_layout, TORVIK_LARGE_DBC)->Unit(benchmark::kMillisecond)->MinTime(3.0);
// The layout database editors write: signals by start bit, long names cut in their lines and kept in
// attributes, relation attributes and some 17,000 value description lines at the end.
BENCHMARK_CAPTURE(ReadDbc, editor_order, TORVIK_EDITOR_ORDER_DBC)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

void* operator new(std::size_t size)
{
    return Allocate(size);
}
void* operator new[](std::size_t size)
{
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t align)
{
    return Allocate(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    return Allocate(size, static_cast<std::size_t>(align));
}
void operator delete(void* p) noexcept
{
    Release(p);
}
void operator delete[](void* p) noexcept
{
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    Release(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    Release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    Release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    Release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    Release(p);
}

BENCHMARK_MAIN();
