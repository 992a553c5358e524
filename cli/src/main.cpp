// torvik: the scriptable front end of the Torvik4 tool set.
#include <clocale>
#include <cstdio>
#include <exception>

#include "commands.hpp"

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "C.UTF-8");

    CLI::App app{"torvik - the Torvik4 tool set from the command line"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every command");

    torvik::cli::AddDbcCommands(app);
    torvik::cli::AddContainerCommands(app);
    torvik::cli::AddProjectCommands(app);
    torvik::cli::AddDeviceCommands(app);
    torvik::cli::AddFlashCommands(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const torvik::cli::CommandError& e) {
        std::fprintf(stderr, "torvik: %s\n", e.what());
        return e.status();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "torvik: %s\n", e.what());
        return 1;
    }
    return 0;
}
