#include "console.hpp"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace torvik::devicelink {

namespace {
std::atomic<bool> g_console{true};
}

bool ConsoleOn()
{
    return g_console.load();
}

void SetConsoleOn(bool on)
{
    g_console.store(on);
}

void Diagnostic(const char* format, ...)
{
    if (!ConsoleOn()) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

}  // namespace torvik::devicelink
