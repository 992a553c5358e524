#pragma once

#include <memory>
#include <string>

#include <dbclib/model.hpp>

namespace kq::dbclib {

/// One DBC database: its network and the parser that fills it.
template <typename Msg, typename Sig>
class Template_Database_File {
public:
    using Network = Template_Network<Msg, Sig>;

    Template_Database_File() : network(std::make_shared<Network>()) {}
    Template_Database_File(const Template_Database_File&) = default;
    Template_Database_File(Template_Database_File&&) noexcept = default;
    Template_Database_File& operator=(const Template_Database_File&) = default;
    Template_Database_File& operator=(Template_Database_File&&) noexcept = default;
    virtual ~Template_Database_File() = default;

    /// Reads a DBC file in the default locale "de-DE". Returns 0 after a complete read,
    /// -1 when the file cannot be opened (the model is then unchanged).
    int ReadFromFile(const std::wstring& path) { return ReadFromFile(path, L"de-DE"); }
    int ReadFromFile(const std::wstring& path, const std::wstring& locale);

    /// Runs after the file is read: GenSigStartValue into initialRawValue, DBName into the name.
    virtual int ProcessAttributes();

    std::shared_ptr<Network> network;
};

}  // namespace kq::dbclib

#include <dbclib/database_file.inl>
