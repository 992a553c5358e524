#pragma once

#include <dbclib/database_file.hpp>
#include <dbclib/export.hpp>
#include <dbclib/model.hpp>

namespace kq::dbclib {

class Dbc_Message;
class Dbc_Signal;

// The library's instantiations; users of the library share them instead of compiling their own.
extern template class KQ_DBCLIB_API Template_Database_File<Dbc_Message, Dbc_Signal>;
extern template class KQ_DBCLIB_API Template_Network<Dbc_Message, Dbc_Signal>;
extern template class KQ_DBCLIB_API Template_Node<Dbc_Message, Dbc_Signal>;
extern template class KQ_DBCLIB_API Template_Message<Dbc_Message, Dbc_Signal>;
extern template class KQ_DBCLIB_API Template_Signal<Dbc_Message, Dbc_Signal>;
extern template class KQ_DBCLIB_API Template_TxMessage<Dbc_Message>;
extern template class KQ_DBCLIB_API Template_RxSignal<Dbc_Signal>;

class KQ_DBCLIB_API Dbc_Message : public Template_Message<Dbc_Message, Dbc_Signal> {
public:
    using Template_Message::Template_Message;
    Dbc_Message(const Dbc_Message&);
    Dbc_Message(Dbc_Message&&) noexcept;
    Dbc_Message& operator=(const Dbc_Message&);
    Dbc_Message& operator=(Dbc_Message&&) noexcept;
    ~Dbc_Message() override;
};

class KQ_DBCLIB_API Dbc_Signal : public Template_Signal<Dbc_Message, Dbc_Signal> {
public:
    using Template_Signal::Template_Signal;
    Dbc_Signal(const Dbc_Signal&);
    Dbc_Signal(Dbc_Signal&&) noexcept;
    Dbc_Signal& operator=(const Dbc_Signal&);
    Dbc_Signal& operator=(Dbc_Signal&&) noexcept;
    ~Dbc_Signal() override;
};

class KQ_DBCLIB_API Dbc_File : public Template_Database_File<Dbc_Message, Dbc_Signal> {
public:
    Dbc_File();
    Dbc_File(const Dbc_File&);
    Dbc_File(Dbc_File&&) noexcept;
    Dbc_File& operator=(const Dbc_File&);
    Dbc_File& operator=(Dbc_File&&) noexcept;
    ~Dbc_File() override;
};

using Dbc_Network = Template_Network<Dbc_Message, Dbc_Signal>;
using Dbc_Node = Template_Node<Dbc_Message, Dbc_Signal>;

}  // namespace kq::dbclib
