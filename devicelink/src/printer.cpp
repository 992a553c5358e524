#include <devicelink/printer.hpp>

#include <algorithm>
#include <stdexcept>

namespace torvik::devicelink {

Printer::Printer(int max_level, int max_stream) : max_stream_(max_stream)
{
    if (max_level <= 0) {
        throw std::invalid_argument("Invalid argument: max_level has to be > 0.");
    }
    if (max_stream <= 0) {
        throw std::invalid_argument("Invalid argument: max_stream has to be > 0.");
    }
    channels_.resize(static_cast<std::size_t>(max_level));
}

Printer::Printer(const Printer& other)
{
    std::lock_guard lock(other.mutex_);
    max_stream_ = other.max_stream_;
    channels_ = other.channels_;
}

Printer& Printer::operator=(const Printer& other)
{
    if (this != &other) {
        std::scoped_lock lock(mutex_, other.mutex_);
        max_stream_ = other.max_stream_;
        channels_ = other.channels_;
    }
    return *this;
}

int Printer::Add(const Sink& sink, int channel)
{
    std::lock_guard lock(mutex_);
    if (channel < 0 || static_cast<std::size_t>(channel) >= channels_.size()) {
        return -1;
    }
    auto& sinks = channels_[static_cast<std::size_t>(channel)];
    if (sinks.size() >= static_cast<std::size_t>(max_stream_)) {
        return -2;
    }
    sinks.push_back(sink);
    return 0;
}

int Printer::Remove(const Sink& sink, int channel)
{
    std::lock_guard lock(mutex_);
    if (channel < 0 || static_cast<std::size_t>(channel) >= channels_.size()) {
        return -1;
    }
    std::erase(channels_[static_cast<std::size_t>(channel)], sink);
    return 0;
}

int Printer::Remove(const Sink& sink)
{
    std::lock_guard lock(mutex_);
    for (auto& sinks : channels_) {
        std::erase(sinks, sink);
    }
    return 0;
}

int Printer::Clear()
{
    std::lock_guard lock(mutex_);
    for (auto& sinks : channels_) {
        sinks.clear();
    }
    return 0;
}

int Printer::Count(int channel) const
{
    std::lock_guard lock(mutex_);
    if (channel < 0 || static_cast<std::size_t>(channel) >= channels_.size()) {
        return -1;
    }
    return static_cast<int>(channels_[static_cast<std::size_t>(channel)].size());
}

void Printer::Write(int channel, const std::string& text)
{
    if (text.empty()) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (channel < 0 || static_cast<std::size_t>(channel) >= channels_.size()) {
        return;
    }
    for (const Sink& sink : channels_[static_cast<std::size_t>(channel)]) {
        if (const auto* file = std::get_if<std::FILE*>(&sink)) {
            // Written as it is: the text may hold '%' from the device's data.
            std::fputs(text.c_str(), *file);
        } else if (const auto* stream = std::get_if<std::ostream*>(&sink)) {
            **stream << text;
            (*stream)->flush();
        } else if (const auto* function = std::get_if<PrintFunction>(&sink)) {
            (*function)(text.c_str());
        }
    }
}

int Printer::VPrintf(int channel, const char* format, va_list args)
{
    if (format == nullptr) {
        return -1;
    }
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        return length;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    Write(channel, text);
    return length;
}

}  // namespace torvik::devicelink
