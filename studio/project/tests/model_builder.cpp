#include "model_builder.hpp"

#include <algorithm>

namespace torvik::studio::test {

using namespace kq::dbclib;

ModelBuilder::ModelBuilder(const std::wstring& name, int defaultCycleTime)
    : database_(std::make_unique<TS_DatabaseFile>())
{
    auto& net = *database_->network;
    net.name = name;
    auto cycle = std::make_shared<Dbc_IntAttributeDef>(L"GenMsgCycleTime", 0, 65535);
    cycle->defaultValue = defaultCycleTime;
    (*net.messageDefinitions)[L"GenMsgCycleTime"] = cycle;
    (*net.messageDefinitions)[L"GenMsgStartDelayTime"] = std::make_shared<Dbc_IntAttributeDef>(L"GenMsgStartDelayTime", 0, 65535);
    (*net.messageDefinitions)[L"GenMsgCycleTimeFast"] = std::make_shared<Dbc_IntAttributeDef>(L"GenMsgCycleTimeFast", 0, 65535);
    std::vector<std::wstring> formats;
    for (int i = 0; i < 16; ++i) {
        formats.push_back(L"F" + std::to_wstring(i));
    }
    (*net.messageDefinitions)[L"VFrameFormat"] = std::make_shared<Dbc_EnumAttributeDef>(L"VFrameFormat", formats);
    (*net.messageDefinitions)[L"CANFD_BRS"] =
        std::make_shared<Dbc_EnumAttributeDef>(L"CANFD_BRS", std::vector<std::wstring>{L"0", L"1"});
    (*net.messageDefinitions)[L"GenMsgChkConstant"] = std::make_shared<Dbc_HexAttributeDef>(L"GenMsgChkConstant", 0, 255);
    (*net.messageDefinitions)[L"GenMsgPDUConstants"] = std::make_shared<Dbc_StringAttributeDef>(L"GenMsgPDUConstants");
    (*net.messageDefinitions)[L"GenMsgFactor"] = std::make_shared<Dbc_FloatAttributeDef>(L"GenMsgFactor", 0.0, 10.0);
    (*net.signalDefinitions)[L"GenSigStartValue"] =
        std::make_shared<Dbc_IntAttributeDef>(L"GenSigStartValue", -2147483647, 2147483647);
}

TS_Message& ModelBuilder::AddMessage(std::uint32_t id, const std::wstring& name, std::uint32_t length)
{
    auto message = std::make_shared<TS_Message>(id, name, length, std::vector<std::weak_ptr<TS_Node>>{},
                                                database_->network);
    database_->network->messages[id] = message;
    return *message;
}

TS_Signal& ModelBuilder::AddSignal(TS_Message& message, const SignalSpec& spec)
{
    const auto owner = database_->network->messages.at(message.id);
    auto signal = std::make_shared<TS_Signal>(spec.name, owner, spec.startBit, spec.bitLength, ValueType::Unsigned,
                                              spec.order, 1.0, 0.0, spec.minimum, spec.maximum, L"",
                                              std::vector<std::weak_ptr<TS_Node>>{}, database_->network);
    message.signals.emplace(spec.name, signal);
    database_->network->signals.emplace(spec.name, signal);
    return *signal;
}

void ModelBuilder::SetMultiplexor(TS_Message& message, TS_Signal& signal)
{
    message.multiplex.multiplexor = message.signals.at(signal.name);
}

void ModelBuilder::Multiplex(TS_Message& message, TS_Signal& signal, std::uint32_t value)
{
    signal.isMultiplexed = true;
    signal.multiplexValue = value;
    message.multiplex.signalsByValue[value].push_back(message.signals.at(signal.name));
    auto& values = message.multiplex.values;
    if (std::find(values.begin(), values.end(), value) == values.end()) {
        values.insert(std::upper_bound(values.begin(), values.end(), value), value);
    }
}

void ModelBuilder::SetInt(TS_Message& message, const std::wstring& attribute, int value)
{
    message.attributes[attribute] = std::make_shared<Dbc_AttributeSpec<int>>(message.definitions->at(attribute), value);
}

void ModelBuilder::SetString(TS_Message& message, const std::wstring& attribute, const std::wstring& value)
{
    message.attributes[attribute] =
        std::make_shared<Dbc_AttributeSpec<std::wstring>>(message.definitions->at(attribute), value);
}

}  // namespace torvik::studio::test
