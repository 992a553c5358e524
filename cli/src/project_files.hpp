// Projects as the project commands open them.
#pragma once

#include <memory>
#include <string>

#include <project/ts_project.hpp>

namespace torvik::cli {

/// Opens a project as the desktop program does, answering every question of the opening with its safe
/// choice (so a database that cannot be read fails the command instead of being dropped), and gives CAN 3
/// and CAN 4 their setups as the main window does when it takes a project.
std::unique_ptr<studio::TS_Project> OpenProjectFile(const std::string& path);

}  // namespace torvik::cli
