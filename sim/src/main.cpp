// torvik4-sim: a simulated Torvik4 on a pseudo-terminal. The first line of output is the device path.
#include <csignal>
#include <cstdio>
#include <string>

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <sim/simulator.hpp>
#include <platform/version.hpp>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

}  // namespace

int main(int argc, char** argv)
{
    torvik::sim::SimOptions options;
    CLI::App app{"torvik4-sim - a simulated Torvik4 on a pseudo-terminal"};
    app.set_version_flag("--version", "torvik4-sim " TORVIK_VERSION);
    app.add_option("--state", options.state_file, "State file for flash, EEPROM and clock (continued by a later run)");
    app.add_option("--async-ms", options.async_interval_ms, "Period of the asynchronous messages of requests (0: off)");
    app.add_option("--drop-every", options.drop_every_nth_byte, "Drop every n-th byte sent to the host");
    app.add_option("--corrupt-checksum", options.corrupt_every_nth,
                   "Corrupt the checksum of every n-th answer (boot loader: R block; W blocks get RESEND)");
    app.add_flag("--silent", options.silent, "Answer nothing");
    app.add_flag("--hw-errors", options.hw_error_notices, "Send a hardware-error notice before every answer");
    app.add_flag("--write-protect", options.eeprom_write_protected, "Refuse every EEPROM write (command failed)");
    app.add_option("--reboot-ms", options.reboot_ms, "How long a reboot keeps the device silent");
    app.add_flag("--bootloader", options.bootloader, "Start in the boot loader (ISP) instead of the application");
    app.add_flag("--bootloader-synchronised", options.bootloader_synchronised,
                 "With --bootloader: start past the handshake, as a chip left in ISP by an earlier session");
    app.add_flag("--pace", options.pace,
                 "Move bytes no faster than the line rate set on the terminal and take the flash times");
    app.add_option("--isp-max-baud", options.isp.max_sync_baud,
                   "Boot loader: do not synchronise while the line is set faster than this (0: any)");
    app.add_flag("--isp-echo-crlf", options.isp.echo_crlf, "Boot loader: echo a line end as CR LF (default CR)");
    app.add_flag("--isp-zero-space", options.isp.zero_as_space,
                 "Boot loader: send a zero sextet as a space (default backquote)");
    app.add_flag("--isp-pad-memory", options.isp.pad_with_memory,
                 "Boot loader: pad R lines with the memory that follows (default zeros)");
    app.add_flag("--isp-rom-overlay", options.isp.rom_overlay,
                 "Boot loader: R and M of 0x000-0x1FF show boot-ROM bytes");
    app.add_flag("--isp-k-minor-first", options.isp.k_minor_first,
                 "Boot loader: K sends the minor number first (default major first)");
    app.add_flag("--isp-i-absolute", options.isp.i_offset_absolute,
                 "Boot loader: I reports the flash address of the first used word (default offset in the range)");
    CLI11_PARSE(app, argc, argv);

    torvik::sim::Simulator simulator(options);
    std::string error;
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "torvik4-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", simulator.DevicePath().c_str());
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    while (g_stop == 0) {
        pause();
    }
    simulator.Stop();
    return 0;
}
