// torvik: the scriptable front end of the Torvik4 tool set.
#include <clocale>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <string_view>

#include <devicelink/torvik_api.h>
#include <platform/version.hpp>

#include "commands.hpp"

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    // The program's own lines are all it prints: the device link's diagnostics only when asked for.
    const char* verbose = std::getenv("TORVIK_VERBOSE");
    SetConsoleTorvik(verbose != nullptr && *verbose != '\0' && *verbose != '0');

    CLI::App app{"torvik - the Torvik4 tool set from the command line"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every command");
    constexpr const char* kVersionLine = "torvik " TORVIK_VERSION;
    app.set_version_flag("--version", kVersionLine);

    torvik::cli::AddDbcCommands(app);
    torvik::cli::AddContainerCommands(app);
    torvik::cli::AddProjectCommands(app);
    torvik::cli::AddDeviceCommands(app);
    torvik::cli::AddFlashCommands(app);
    torvik::cli::AddSettingsCommands(app);
    torvik::cli::AddWorkflowCommands(app);
    torvik::cli::AddVinTimeCommands(app);
    torvik::cli::AddProjectEditCommands(app);

    try {
        // The parser checks for a subcommand before it looks at --version: answer it first.
        if (argc == 2 && std::string_view(argv[1]) == "--version") {
            std::puts(kVersionLine);
            return 0;
        }
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help and its kin
        }
        // A usage error is a failure like any other: one line, status 1.
        std::fprintf(stderr, "torvik: %s (see --help)\n", e.what());
        return 1;
    } catch (const torvik::cli::CommandError& e) {
        std::fprintf(stderr, "torvik: %s\n", e.what());
        return e.status();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "torvik: %s\n", e.what());
        return 1;
    }
    return 0;
}
