#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dbclib/attributes.hpp>
#include <dbclib/raw_number.hpp>

namespace kq::dbclib {

enum class ValueType : std::int32_t {
    Signed = 0,
    Unsigned = 1,
    Float = 2,   ///< IEEE 754 single
    Double = 3,  ///< IEEE 754 double
};

enum class ByteOrder : std::int32_t {
    Intel = 0,     ///< "@1" in a DBC file
    Motorola = 1,  ///< "@0" in a DBC file
};

template <typename Msg, typename Sig>
class Template_Network;
template <typename Msg, typename Sig>
class Template_Node;

/// A node's record of a message it sends; carries the node-message relation attributes.
template <typename Msg>
class Template_TxMessage : public Dbc_AttributesForItem {
public:
    Template_TxMessage(std::shared_ptr<Msg> msg, std::shared_ptr<Dbc_DefinitionTable> defs)
        : Dbc_AttributesForItem(std::move(defs)), message(std::move(msg))
    {
    }
    Template_TxMessage(const Template_TxMessage&) = default;
    Template_TxMessage(Template_TxMessage&&) noexcept = default;
    Template_TxMessage& operator=(const Template_TxMessage&) = default;
    Template_TxMessage& operator=(Template_TxMessage&&) noexcept = default;
    ~Template_TxMessage() override = default;

    std::shared_ptr<Msg> message;
};

/// A node's record of a signal it receives; carries the node-signal relation attributes.
template <typename Sig>
class Template_RxSignal : public Dbc_AttributesForItem {
public:
    Template_RxSignal(std::shared_ptr<Sig> sig, std::shared_ptr<Dbc_DefinitionTable> defs)
        : Dbc_AttributesForItem(std::move(defs)), signal(std::move(sig))
    {
    }
    Template_RxSignal(const Template_RxSignal&) = default;
    Template_RxSignal(Template_RxSignal&&) noexcept = default;
    Template_RxSignal& operator=(const Template_RxSignal&) = default;
    Template_RxSignal& operator=(Template_RxSignal&&) noexcept = default;
    ~Template_RxSignal() override = default;

    std::shared_ptr<Sig> signal;
};

/// The multiplexing of one message.
template <typename Sig>
struct Template_Multiplex {
    Template_Multiplex() = default;
    Template_Multiplex(const Template_Multiplex&) = default;
    Template_Multiplex(Template_Multiplex&&) noexcept = default;
    Template_Multiplex& operator=(const Template_Multiplex&) = default;
    Template_Multiplex& operator=(Template_Multiplex&&) noexcept = default;
    ~Template_Multiplex() = default;

    std::shared_ptr<Sig> multiplexor;  ///< null when the message has no multiplexor signal
    std::vector<std::uint32_t> values;  ///< ascending, each value once
    std::map<std::uint32_t, std::vector<std::shared_ptr<Sig>>> signalsByValue;  ///< file order
};

/// The network of one database: nodes, messages, signals and the six definition tables.
template <typename Msg, typename Sig>
class Template_Network : public Dbc_Item, public Dbc_AttributesForItem {
public:
    Template_Network()
        : Dbc_Item(std::wstring(), Dbc_ItemType::Network),
          Dbc_AttributesForItem(std::make_shared<Dbc_DefinitionTable>()),
          networkDefinitions(definitions),
          nodeDefinitions(std::make_shared<Dbc_DefinitionTable>()),
          messageDefinitions(std::make_shared<Dbc_DefinitionTable>()),
          signalDefinitions(std::make_shared<Dbc_DefinitionTable>()),
          nodeSignalDefinitions(std::make_shared<Dbc_DefinitionTable>()),
          nodeMessageDefinitions(std::make_shared<Dbc_DefinitionTable>())
    {
    }
    Template_Network(const Template_Network&) = default;
    Template_Network(Template_Network&&) noexcept = default;
    Template_Network& operator=(const Template_Network&) = default;
    Template_Network& operator=(Template_Network&&) noexcept = default;
    ~Template_Network() override = default;

    std::map<std::wstring, std::shared_ptr<Template_Node<Msg, Sig>>> nodes;
    std::map<std::uint32_t, std::shared_ptr<Msg>> messages;
    std::multimap<std::wstring, std::shared_ptr<Sig>> signals;  ///< every signal of every message

    std::shared_ptr<Dbc_DefinitionTable> networkDefinitions;      ///< BA_DEF_ without object keyword
    std::shared_ptr<Dbc_DefinitionTable> nodeDefinitions;         ///< BA_DEF_ BU_
    std::shared_ptr<Dbc_DefinitionTable> messageDefinitions;      ///< BA_DEF_ BO_
    std::shared_ptr<Dbc_DefinitionTable> signalDefinitions;       ///< BA_DEF_ SG_
    std::shared_ptr<Dbc_DefinitionTable> nodeSignalDefinitions;   ///< BA_DEF_REL_ BU_SG_REL_
    std::shared_ptr<Dbc_DefinitionTable> nodeMessageDefinitions;  ///< BA_DEF_REL_ BU_BO_REL_
};

template <typename Msg, typename Sig>
class Template_Node : public Dbc_Item, public Dbc_AttributesForItem {
public:
    Template_Node(std::wstring nodeName, const std::shared_ptr<Template_Network<Msg, Sig>>& net)
        : Dbc_Item(std::move(nodeName), Dbc_ItemType::Node),
          Dbc_AttributesForItem(net ? net->nodeDefinitions : nullptr),
          network(net)
    {
    }
    Template_Node(const Template_Node&) = default;
    Template_Node(Template_Node&&) noexcept = default;
    Template_Node& operator=(const Template_Node&) = default;
    Template_Node& operator=(Template_Node&&) noexcept = default;
    ~Template_Node() override = default;

    std::map<std::uint32_t, Template_TxMessage<Msg>> txMessages;  ///< messages this node sends
    std::map<std::wstring, Template_RxSignal<Sig>> rxSignals;     ///< signals this node receives
    std::weak_ptr<Template_Network<Msg, Sig>> network;
};

template <typename Msg, typename Sig>
class Template_Message : public Dbc_Item, public Dbc_AttributesForItem {
public:
    using Node = Template_Node<Msg, Sig>;
    using Network = Template_Network<Msg, Sig>;

    Template_Message(std::uint32_t identifier, std::wstring messageName, std::uint32_t messageLength,
                     std::vector<std::weak_ptr<Node>> transmitterList,
                     const std::shared_ptr<Network>& net)
        : Dbc_Item(std::move(messageName), Dbc_ItemType::Message),
          Dbc_AttributesForItem(net ? net->messageDefinitions : nullptr),
          id(identifier),
          length(messageLength),
          transmitters(std::move(transmitterList)),
          network(net)
    {
    }
    Template_Message(const Template_Message&) = default;
    Template_Message(Template_Message&&) noexcept = default;
    Template_Message& operator=(const Template_Message&) = default;
    Template_Message& operator=(Template_Message&&) noexcept = default;
    ~Template_Message() override = default;

    std::uint32_t id;      ///< as written in the file; bit 31 set marks an extended identifier
    std::uint32_t length;  ///< size in bytes, 0 to 64
    std::vector<std::weak_ptr<Node>> transmitters;
    std::map<std::wstring, std::shared_ptr<Sig>> signals;
    Template_Multiplex<Sig> multiplex;
    std::weak_ptr<Network> network;
};

template <typename Msg, typename Sig>
class Template_Signal : public Dbc_Item, public Dbc_AttributesForItem {
public:
    using Node = Template_Node<Msg, Sig>;
    using Network = Template_Network<Msg, Sig>;

    Template_Signal(std::wstring signalName, std::weak_ptr<Msg> msg, std::uint32_t start,
                    std::uint32_t length, ValueType type, ByteOrder order, double signalFactor,
                    double signalOffset, double signalMinimum, double signalMaximum,
                    std::wstring signalUnit, std::vector<std::weak_ptr<Node>> receiverList,
                    const std::shared_ptr<Network>& net)
        : Dbc_Item(std::move(signalName), Dbc_ItemType::Signal),
          Dbc_AttributesForItem(net ? net->signalDefinitions : nullptr),
          message(std::move(msg)),
          startBit(start),
          bitLength(length),
          valueType(type),
          byteOrder(order),
          factor(signalFactor),
          offset(signalOffset),
          minimum(signalMinimum),
          maximum(signalMaximum),
          unit(std::move(signalUnit)),
          receivers(std::move(receiverList))
    {
    }
    Template_Signal(const Template_Signal&) = default;
    Template_Signal(Template_Signal&&) noexcept = default;
    Template_Signal& operator=(const Template_Signal&) = default;
    Template_Signal& operator=(Template_Signal&&) noexcept = default;
    ~Template_Signal() override = default;

    /// Converts `raw` to its physical value (always written for a known value type) and tells whether
    /// both the raw value fits the signal and the physical value passes the limits.
    bool GetValue(double& physical, const RawNumber& raw) const;
    /// Converts a physical value back to raw (Unsigned signals only) and tells whether it fits.
    /// Throws std::runtime_error when (physical - offset) / factor is not finite.
    bool ParseValue(double physical, RawNumber& raw) const;
    /// GetValue's verdict for `raw`.
    bool CheckRawValue(const RawNumber& raw) const
    {
        double scratch = 0.0;
        return GetValue(scratch, raw);
    }
    /// The range rule: a limit of exactly 0.0 means no limit on that side.
    bool InRange(double physical) const
    {
        return (physical >= minimum || minimum == 0.0) && (physical <= maximum || maximum == 0.0);
    }

    std::weak_ptr<Msg> message;
    std::uint32_t startBit;
    std::uint32_t bitLength;
    ValueType valueType;
    ByteOrder byteOrder;
    double factor;
    double offset;
    double minimum;
    double maximum;
    std::wstring unit;
    std::vector<std::weak_ptr<Node>> receivers;
    RawNumber initialRawValue = 0;  ///< set from GenSigStartValue
    bool isMultiplexed = false;     ///< sent only under `multiplexValue`
    std::uint32_t multiplexValue = 0;
    std::map<std::uint32_t, std::wstring> valueDescriptions;  ///< VAL_
};

}  // namespace kq::dbclib

#include <dbclib/value_coding.inl>
