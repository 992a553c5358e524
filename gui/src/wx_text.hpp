// Conversions between the core's wide strings and wxString (itself wide on this platform).
#pragma once

#include <string>

#include <wx/string.h>

namespace torvik::gui {

inline wxString Wx(const std::wstring& text)
{
    return wxString(text.c_str(), text.size());
}

inline std::wstring Std(const wxString& text)
{
    return text.ToStdWstring();
}

}  // namespace torvik::gui
