#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <dbclib/database_file.hpp>
#include <dbclib/model.hpp>

namespace torvik::studio {

using kq::dbclib::RawNumber;

class TS_Message;
class TS_Signal;

/// Attribute values set in the project, by attribute name; they take precedence over the database's.
using AttributeOverrides = std::map<std::wstring, std::shared_ptr<kq::dbclib::Dbc_Attribute>>;

using TS_Network = kq::dbclib::Template_Network<TS_Message, TS_Signal>;
using TS_Node = kq::dbclib::Template_Node<TS_Message, TS_Signal>;

/// Signal types of the simulation.
inline constexpr std::uint32_t kConstantSignal = 0;
inline constexpr std::uint32_t kDynamicSignal = 1;
/// The dynamic control of a signal that no control drives.
inline constexpr std::int32_t kNoControl = -1;

/// A signal with its simulation settings: a constant raw value, or a range that a device control drives.
class TS_Signal : public kq::dbclib::Template_Signal<TS_Message, TS_Signal> {
public:
    /// As the library's signal; the simulation settings get their defaults (`ResetSimulation`).
    TS_Signal(std::wstring signalName, std::weak_ptr<TS_Message> msg, std::uint32_t start,
              std::uint32_t length, kq::dbclib::ValueType type, kq::dbclib::ByteOrder order,
              double signalFactor, double signalOffset, double signalMinimum, double signalMaximum,
              std::wstring signalUnit, std::vector<std::weak_ptr<TS_Node>> receiverList,
              const std::shared_ptr<TS_Network>& net);
    TS_Signal(const TS_Signal&);
    ~TS_Signal() override;

    /// Constant signal, no control, start/end/middle = raw of minimum, maximum and half the maximum.
    void ResetSimulation();

    /// The signal's contribution to its message payload: the low `bitLength` bits of `raw` shifted
    /// left by `startBit`. The byte order is not consulted; the device numbers bits the same way.
    RawNumber PlaceRawValue(const RawNumber& raw) const;

    /// Takes the signal's bits from a payload (byte k = bits 8k..8k+7) into `rawValue`; true when
    /// that changed it.
    bool TakeRawValue(std::span<const std::uint8_t> bytes);

    // The fields a build reads for every signal come first and together.
    std::uint32_t signalType = kConstantSignal; ///< 0 constant, 1 dynamic
    std::int32_t dynamicControl = kNoControl;   ///< 0..29, -1 for none
    RawNumber rawValue = 0;                     ///< the constant value
    RawNumber startValue = 0;
    RawNumber endValue = 0;
    RawNumber middleValue = 0;  ///< three-position switches only
    AttributeOverrides attributeOverrides;

protected:
    /// The project's override first, then the database's own value.
    std::shared_ptr<kq::dbclib::Dbc_Attribute> GetAttribute(const std::wstring& name) const override;
};

/// A message with the CAN channels that send it in the simulation.
class TS_Message : public kq::dbclib::Template_Message<TS_Message, TS_Signal> {
public:
    using Template_Message::Template_Message;
    TS_Message(const TS_Message&);
    ~TS_Message() override;

    using Payload = std::vector<std::uint8_t>;

    /// The message's signals in ascending name order (the order of `signals`), kept in one block.
    const std::vector<const TS_Signal*>& SignalsInNameOrder() const;

    /// The payload size in bytes: the message's length, at most 64 (the largest CAN FD frame).
    std::size_t PayloadLength() const;

    /// One payload of the message's length per chosen multiplexor value (`multiplex.values`), or a single
    /// one when the message has no multiplexor signal; empty for a multiplexed message without chosen
    /// values. Every byte up to the message length carries the composed signal values. A chosen value the
    /// multiplex table lacks contributes the multiplexor and the signals that are not multiplexed.
    std::vector<Payload> GetPayloads() const;

    /// The payload for the first chosen multiplexor value (or the only one); all zero bytes of the
    /// message's length for a multiplexed message without chosen values. When `driven` is given, the
    /// signals that a device control drives (dynamic, with a control) are appended to it in name order.
    Payload GetFirstPayload(std::vector<const TS_Signal*>* driven = nullptr) const;

    std::uint8_t channelMask = 0;  ///< bit 0 CAN 1 .. bit 3 CAN 4; 0 = not simulated
    AttributeOverrides attributeOverrides;

protected:
    std::shared_ptr<kq::dbclib::Dbc_Attribute> GetAttribute(const std::wstring& name) const override;

private:
    Payload Compose(const std::uint32_t* multiplexorValue, std::vector<const TS_Signal*>* driven) const;

    mutable std::vector<const TS_Signal*> signalOrder_;
};

/// One database of the project: the DBC file read into the studio's own model.
class TS_DatabaseFile : public kq::dbclib::Template_Database_File<TS_Message, TS_Signal> {
public:
    TS_DatabaseFile();
    TS_DatabaseFile(const TS_DatabaseFile&) = delete;
    TS_DatabaseFile& operator=(const TS_DatabaseFile&) = delete;
    ~TS_DatabaseFile() override;

    /// Keeps `filePath` and reads the DBC file (text decoded for the locale "de-DE"). 0 on success,
    /// non-zero when the file cannot be read.
    int Load(const std::wstring& filePath);

    /// The library's processing (GenSigStartValue into `initialRawValue`, DBName into the network's
    /// name), then every signal's `rawValue` set to its `initialRawValue`. Returns 0.
    int ProcessAttributes() override;

    /// The database's name: its network's name.
    const std::wstring& GetName() const { return network->name; }

    std::wstring path;  ///< the DBC file it was read from
};

}  // namespace torvik::studio
