#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <project/prompt.hpp>
#include <project/ts_project.hpp>

namespace torvik::studio {

/// Opens a project file the way the program does: the header, then each database named in it with its
/// selections. A failure turns into the program's questions (load another project, replace or remove a
/// database, cancel), asked through the prompt; the answers decide how opening goes on.
class ProjectOpening {
public:
    /// `atStartup`: the project named on the command line of the desktop program; a failure then only
    /// shows "Project '<path>' can't be loaded." and gives up.
    ProjectOpening(Prompt& prompt, bool atStartup) : prompt_(prompt), atStartup_(atStartup) {}

    /// Runs the whole sequence. Returns the opened project (modified only when a database was replaced or
    /// dropped on the way), or nothing when the user gave up or cancelled.
    std::unique_ptr<TS_Project> Run(const std::wstring& path);

    /// What made the last run give up, for a one-line report ("database 'Body' cannot be read").
    const std::wstring& failure() const { return failure_; }

private:
    enum class Failure { Database, Selections };

    bool OpenDatabase(TS_Project& project, std::size_t nameIndex);
    std::unique_ptr<TS_DatabaseFile> ChooseReplacement(const TS_Project& project, std::size_t nameIndex);
    void GiveUpAtStartup(const TS_Project& project);

    Prompt& prompt_;
    bool atStartup_;
    std::wstring failure_;
};

}  // namespace torvik::studio
