#include <dbclib/dbc.hpp>

namespace kq::dbclib {

template class Template_Database_File<Dbc_Message, Dbc_Signal>;
template class Template_Network<Dbc_Message, Dbc_Signal>;
template class Template_Node<Dbc_Message, Dbc_Signal>;
template class Template_Message<Dbc_Message, Dbc_Signal>;
template class Template_Signal<Dbc_Message, Dbc_Signal>;
template class Template_TxMessage<Dbc_Message>;
template class Template_RxSignal<Dbc_Signal>;

Dbc_Message::Dbc_Message(const Dbc_Message&) = default;
Dbc_Message::Dbc_Message(Dbc_Message&&) noexcept = default;
Dbc_Message& Dbc_Message::operator=(const Dbc_Message&) = default;
Dbc_Message& Dbc_Message::operator=(Dbc_Message&&) noexcept = default;
Dbc_Message::~Dbc_Message() = default;

Dbc_Signal::Dbc_Signal(const Dbc_Signal&) = default;
Dbc_Signal::Dbc_Signal(Dbc_Signal&&) noexcept = default;
Dbc_Signal& Dbc_Signal::operator=(const Dbc_Signal&) = default;
Dbc_Signal& Dbc_Signal::operator=(Dbc_Signal&&) noexcept = default;
Dbc_Signal::~Dbc_Signal() = default;

Dbc_File::Dbc_File() = default;
Dbc_File::Dbc_File(const Dbc_File&) = default;
Dbc_File::Dbc_File(Dbc_File&&) noexcept = default;
Dbc_File& Dbc_File::operator=(const Dbc_File&) = default;
Dbc_File& Dbc_File::operator=(Dbc_File&&) noexcept = default;
Dbc_File::~Dbc_File() = default;

}  // namespace kq::dbclib
