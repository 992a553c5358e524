// Feeds arbitrary bytes to the DBC parser and walks the model it builds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <dbclib/dbc.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kq::dbclib;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Dbc_File file;
    // An odd size reads with the Central European table, so both code pages are reached; every other
    // pair of sizes asks for the read's report.
    const std::wstring locale = size % 2 == 0 ? L"de-DE" : L"pl-PL";
    std::size_t total = 0;
    if (size / 2 % 2 == 0) {
        Dbc_ReadReport report;
        file.read_from_bytes(bytes, locale, report);
        for (const auto& entry : report.diagnostics) {
            if (entry.line == 0 || entry.column == 0) {
                __builtin_trap();
            }
            total += entry.message.size() + entry.keyword.size();
        }
    } else {
        file.read_from_bytes(bytes, locale);
    }

    // Touch every item so that a dangling reference or a broken invariant shows up.
    total += file.network->name.size() + file.network->comment.size();
    for (const auto& [id, message] : file.network->messages) {
        total += message->name.size() + message->comment.size() + message->transmitters.size();
        for (const auto& [name, signal] : message->signals) {
            total += name.size() + signal->unit.size() + signal->valueDescriptions.size();
            if (signal->message.lock() != message) {
                __builtin_trap();
            }
        }
        for (const auto& [value, signals] : message->multiplex.signalsByValue) {
            total += signals.size() + value;
        }
    }
    for (const auto& [name, node] : file.network->nodes) {
        for (const auto& [id, record] : node->txMessages) {
            total += record.message->name.size() + record.attributes.size();
        }
    }
    return total == SIZE_MAX ? 1 : 0;
}
