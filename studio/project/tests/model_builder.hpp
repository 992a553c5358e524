// Builds small databases by hand, the way the DBC reader would fill them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <project/ts_model.hpp>

namespace torvik::studio::test {

struct SignalSpec {
    std::wstring name;
    std::uint32_t startBit = 0;
    std::uint32_t bitLength = 8;
    double minimum = 0.0;
    double maximum = 0.0;
    kq::dbclib::ByteOrder order = kq::dbclib::ByteOrder::Intel;
};

class ModelBuilder {
public:
    /// A database named `name` with the usual message attribute definitions: GenMsgCycleTime (Int,
    /// default `defaultCycleTime`), GenMsgStartDelayTime, GenMsgCycleTimeFast (Int), VFrameFormat and
    /// CANFD_BRS (Enum), GenMsgChkConstant (Hex), GenMsgPDUConstants (String), and the signal
    /// definition GenSigStartValue (Int).
    explicit ModelBuilder(const std::wstring& name, int defaultCycleTime = 0);

    TS_Message& AddMessage(std::uint32_t id, const std::wstring& name, std::uint32_t length);
    TS_Signal& AddSignal(TS_Message& message, const SignalSpec& spec);
    /// Makes `signal` the multiplexor of its message.
    void SetMultiplexor(TS_Message& message, TS_Signal& signal);
    /// Makes `signal` multiplexed under `value`.
    void Multiplex(TS_Message& message, TS_Signal& signal, std::uint32_t value);

    static void SetInt(TS_Message& message, const std::wstring& attribute, int value);
    static void SetString(TS_Message& message, const std::wstring& attribute, const std::wstring& value);

    std::unique_ptr<TS_DatabaseFile> Take() { return std::move(database_); }
    TS_DatabaseFile& database() { return *database_; }

private:
    std::unique_ptr<TS_DatabaseFile> database_;
};

}  // namespace torvik::studio::test
