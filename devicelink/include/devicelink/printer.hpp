#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include <devicelink/export.hpp>

namespace torvik::devicelink {

/// Log channels of a session.
enum LOG_LEVELS_TORVIK { ERR = 0, INF = 1, COM = 2 };

/// A function sink: called with each text (null-terminated, no line end added).
using PrintFunction = void (*)(const char* text);

/// Channels of sinks that texts are handed to, in the order the sinks were added. Sinks are borrowed:
/// the caller keeps them alive while they are attached. Safe to use from several threads; a sink is
/// called under the printer's lock.
class TORVIK_API Printer {
public:
    using Sink = std::variant<std::FILE*, std::ostream*, PrintFunction>;

    /// Throws std::invalid_argument for 0 channels or 0 sinks per channel.
    Printer(int max_level, int max_stream);
    Printer(const Printer& other);
    Printer& operator=(const Printer& other);

    /// 0 added; -1 channel out of range; -2 the channel is full.
    int Add(const Sink& sink, int channel);
    /// Removes every equal sink from the channel: 0, or -1 for a channel out of range.
    int Remove(const Sink& sink, int channel);
    /// Removes every equal sink from every channel: 0.
    int Remove(const Sink& sink);
    /// Removes every sink: 0.
    int Clear();
    /// Hands text to every sink of the channel; an empty text sends nothing.
    void Write(int channel, const std::string& text);
    /// Formats with the C library's rules and writes: the formatted length, or -1 when formatting failed.
    int VPrintf(int channel, const char* format, va_list args);
    /// How many sinks the channel holds (-1 for a channel out of range).
    int Count(int channel) const;

private:
    mutable std::mutex mutex_;
    int max_stream_;
    std::vector<std::vector<Sink>> channels_;
};

}  // namespace torvik::devicelink
