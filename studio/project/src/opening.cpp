#include <project/opening.hpp>

namespace torvik::studio {

std::unique_ptr<TS_Project> ProjectOpening::Run(const std::wstring& path)
{
    std::wstring current = path;
    failure_.clear();
    for (;;) {
        auto project = std::make_unique<TS_Project>();
        if (!project->OpenHeader(current)) {
            failure_ = L"the project file '" + current + L"' cannot be read: " + project->GetOpeningProblem();
            if (atStartup_) {
                prompt_.ShowWarning(L"Project '" + current + L"' can't be loaded.");
                return nullptr;
            }
            if (!prompt_.AskYesNo(L"Project '" + current + L"' can't be loaded. Would you like to load another project?")) {
                return nullptr;
            }
            const auto other = prompt_.ChooseProjectFile();
            if (!other) {
                return nullptr;
            }
            current = *other;
            continue;
        }
        const std::size_t count = project->GetDatabaseSectionNames().size();
        for (std::size_t i = 0; i < count; ++i) {
            if (!OpenDatabase(*project, i)) {
                return nullptr;
            }
        }
        project->EndOpening();
        failure_.clear();
        return project;
    }
}

void ProjectOpening::GiveUpAtStartup(const TS_Project& project)
{
    prompt_.ShowWarning(L"Project '" + project.GetProjectPath() + L"' can't be loaded.");
}

bool ProjectOpening::OpenDatabase(TS_Project& project, std::size_t nameIndex)
{
    const std::wstring name = project.GetDatabaseSectionNames()[nameIndex];
    bool loaded = project.LoadDatabase(nameIndex);
    for (;;) {
        if (loaded && project.LoadSelections(nameIndex)) {
            return true;
        }
        const Failure failure = loaded ? Failure::Selections : Failure::Database;
        failure_ = failure == Failure::Database
                       ? L"database '" + name + L"' cannot be read: " + project.GetOpeningProblem()
                       : L"some messages or signals of database '" + name + L"' are incorrectly set";
        if (atStartup_) {
            GiveUpAtStartup(project);
            return false;
        }
        const std::wstring question =
            failure == Failure::Database
                ? L"Some troubles occured when trying to read database '" + name + L"' in project '" +
                      project.GetProjectPath() + L"'. Would you like to replace it?"
                : L"Some messages or signals from database '" + name +
                      L"' are incorrectly set. Would you like to replace the database with other file?";
        if (prompt_.AskYesNo(question)) {
            if (auto replacement = ChooseReplacement(project, nameIndex)) {
                const int index = project.FindDatabase(name);
                loaded = index >= 0 ? project.ReplaceDatabase(static_cast<std::size_t>(index), std::move(replacement))
                                    : project.AppendDatabase(std::move(replacement));
                continue;
            }
        }
        if (!prompt_.AskOkCancel(L"Would you like to remove the database '" + name +
                                 L"' or cancel loading the project?")) {
            return false;
        }
        // A database that could not be read was never added; dropping it only means going on.
        const int index = project.FindDatabase(name);
        if (index >= 0 && !project.RemoveDatabase(static_cast<std::size_t>(index), true)) {
            prompt_.ShowWarning(L"Something went wrong when trying to remove database '" + name +
                                L"'. Project can't be loaded!");
            return false;
        }
        project.SetModified(true);
        return true;
    }
}

std::unique_ptr<TS_DatabaseFile> ProjectOpening::ChooseReplacement(const TS_Project& project, std::size_t nameIndex)
{
    const std::wstring& name = project.GetDatabaseSectionNames()[nameIndex];
    for (;;) {
        const auto file = prompt_.ChooseDatabaseFile();
        if (!file) {
            return nullptr;
        }
        if (auto database = project.ReadDatabaseFor(nameIndex, *file)) {
            return database;
        }
        if (!prompt_.AskYesNo(L"The selected file can't be used (may be it has different database name - required '" +
                              name + L"'). Would you like to choose another file?")) {
            return nullptr;
        }
    }
}

}  // namespace torvik::studio
