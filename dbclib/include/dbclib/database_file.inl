// The DBC parser. Included by database_file.hpp.
#pragma once

namespace kq::dbclib {

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ReadFromFile(const std::wstring&, const std::wstring&)
{
    return -1;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ProcessAttributes()
{
    return 0;
}

}  // namespace kq::dbclib
