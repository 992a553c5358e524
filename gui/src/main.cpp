#include "torvik_app.hpp"

wxIMPLEMENT_APP(torvik::gui::TorvikApp);
