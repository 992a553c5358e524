#include <cstdio>
#include <cstring>

#include <wx/app.h>

#include <platform/version.hpp>

#include "torvik_app.hpp"

wxIMPLEMENT_APP_NO_MAIN(torvik::gui::TorvikApp);

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("TorvikStudio %s\n", TORVIK_VERSION);
        return 0;
    }
    return wxEntry(argc, argv);
}
