#pragma once

#include <filesystem>
#include <string>

#include <wx/app.h>

namespace torvik::gui {

/// The desktop program: English user interface, logging, the settings file, the main window with the
/// project named on the command line; the program ends when the main window closes.
class TorvikApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;

    const std::filesystem::path& programFolder() const { return programFolder_; }

private:
    std::filesystem::path programFolder_;
    std::wstring projectFile_;
};

}  // namespace torvik::gui
