#include "torvik_app.hpp"

#include <clocale>
#include <cstdio>

#include <wx/cmdline.h>

#include <log4cpp/Category.hh>

#include <app/startup.hpp>
#include <platform/process.hpp>
#include <platform/version.hpp>

#include "torvik_dlg.hpp"
#include "wx_text.hpp"

namespace torvik::gui {

bool TorvikApp::OnInit()
{
    // The toolkit took the desktop's locale when it started; messages and number formats stay US English.
    std::setlocale(LC_MESSAGES, "C");
    std::setlocale(LC_NUMERIC, "C");
    SetAppDisplayName("Torvik Studio");
    programFolder_ = platform::ExecutableDirectory();
    studio::app::ConfigureLogging(programFolder_);
    if (!wxApp::OnInit()) {
        return false;
    }
    auto* window = new CTorvikDlg(log4cpp::Category::getInstance(studio::app::kLoggerName), programFolder_,
                                  projectFile_);
    SetTopWindow(window);
    window->Show();
    // As the opening sequence runs from the window's own loop, the project opens once the window is up.
    window->CallAfter([window] { window->OpenStartupProject(); });
    return true;
}

int TorvikApp::OnExit()
{
    studio::app::ShutdownLogging();
    return wxApp::OnExit();
}

void TorvikApp::OnInitCmdLine(wxCmdLineParser& parser)
{
    wxApp::OnInitCmdLine(parser);
    parser.AddSwitch("", "version", "print the version and exit");
    parser.AddParam("project file (.tsp)", wxCMD_LINE_VAL_STRING, wxCMD_LINE_PARAM_OPTIONAL);
}

bool TorvikApp::OnCmdLineParsed(wxCmdLineParser& parser)
{
    if (parser.Found("version")) {
        std::printf("TorvikStudio %s\n", TORVIK_VERSION);
        return false;
    }
    if (parser.GetParamCount() > 0) {
        projectFile_ = Std(parser.GetParam(0));
    }
    return wxApp::OnCmdLineParsed(parser);
}

}  // namespace torvik::gui
