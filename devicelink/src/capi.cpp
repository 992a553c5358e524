// The flat interface: every call is guarded so that no exception leaves the library.
#include <devicelink/torvik_api.h>

#include "console.hpp"

#include <cstdarg>
#include <new>

#include <devicelink/torvik.hpp>

using torvik::devicelink::PrintFunction;
using torvik::devicelink::RecvAsyncMessage;
using torvik::devicelink::Torvik;

namespace {

template <typename F>
std::int32_t Guarded(void* handle, F&& work) noexcept
{
    if (handle == nullptr) {
        return TORVIK_INTERNAL_ERROR;
    }
    try {
        return work(*static_cast<Torvik*>(handle));
    } catch (...) {
        return TORVIK_INTERNAL_ERROR;
    }
}

template <typename F>
void GuardedVoid(void* handle, F&& work) noexcept
{
    if (handle == nullptr) {
        return;
    }
    try {
        work(*static_cast<Torvik*>(handle));
    } catch (...) {
    }
}

}  // namespace

extern "C" {

void SetConsoleTorvik(bool on)
{
    torvik::devicelink::SetConsoleOn(on);
}

void* NewTorvik(void)
{
    try {
        return new Torvik();
    } catch (...) {
        return nullptr;
    }
}

void DeleteTorvik(void* torvik)
{
    delete static_cast<Torvik*>(torvik);
}

int32_t ConnectTorvik(void* torvik, const char* port, uint32_t readTimeout, uint32_t writeTimeout)
{
    return Guarded(torvik,
                   [&](Torvik& t) { return t.Connect(port != nullptr ? port : "", readTimeout, writeTimeout); });
}

int32_t LastConnectErrorTorvik(void* torvik)
{
    // The port layer builds its errors from errno, so the value is one.
    return Guarded(torvik, [](Torvik& t) { return t.LastConnectError().value(); });
}

int32_t DisconnectTorvik(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return t.Disconnect(); });
}

int32_t StartReceiverTorvik(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return t.StartReceiver(); });
}

void StopReceiverTorvik(void* torvik)
{
    GuardedVoid(torvik, [](Torvik& t) { t.StopReceiver(); });
}

int32_t GetInternalThreadStatus(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return t.GetInternalThreadStatus(); });
}

int32_t GetVersionTorvik(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return t.GetVersion(); });
}

int32_t RebootTorvik(void* torvik, bool flag)
{
    return Guarded(torvik, [&](Torvik& t) { return t.Reboot(flag, 5000); });
}

int32_t ResetTorvik(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return t.Reset(); });
}

int32_t BootloaderTorvik(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return t.Bootloader(); });
}

int32_t BlobRemoveTorvik(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return t.BlobRemove(); });
}

int32_t AddMessageTorvik(void* torvik, const tagCanMessage* message, const uint8_t* payload)
{
    if (message == nullptr) {
        return -21;
    }
    return Guarded(torvik, [&](Torvik& t) {
        if (payload == nullptr) {
            return t.AddMessage(*message);
        }
        const int length = torvik::devicelink::DlcLength(message->dlc);
        if (length < 0) {
            t.Printf_err("Torvik::AddMessageTorvik: Invalid DLC value: %u.\n", static_cast<unsigned>(message->dlc));
            return -21;
        }
        return t.AddMessage(*message, std::vector<std::uint8_t>(payload, payload + length));
    });
}

int32_t GetHandlerTorvik(void* torvik, uint8_t channel, uint8_t channel2, uint32_t id, bool extended, bool frameFlag1,
                         bool frameFlag2)
{
    return Guarded(torvik,
                   [&](Torvik& t) { return t.GetHandler(channel, channel2, id, extended, frameFlag1, frameFlag2); });
}

int32_t EnableMessageTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.EnableMessage(handler); });
}

int32_t DisableMessageTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.DisableMessage(handler); });
}

int32_t RemoveMessageTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.RemoveMessage(handler); });
}

int32_t SetMessageDataTorvik(void* torvik, uint16_t handler, const uint8_t* data, const uint8_t* mask, uint8_t flag,
                             bool wait)
{
    return Guarded(torvik, [&](Torvik& t) { return t.SetMessageData(handler, data, mask, flag, wait); });
}

int32_t AddSignalTorvik(void* torvik, uint16_t messageHandler, uint8_t group, uint16_t startSymbol, uint16_t stopSymbol,
                        uint8_t flags)
{
    return Guarded(torvik,
                   [&](Torvik& t) { return t.AddSignal(messageHandler, group, startSymbol, stopSymbol, flags); });
}

int32_t RemoveSignalTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.RemoveSignal(handler); });
}

int32_t SignalChangeValueTorvik(void* torvik, uint16_t handler, uint16_t value, uint8_t flag, bool wait)
{
    return Guarded(torvik, [&](Torvik& t) { return t.SignalChangeValue(handler, value, flag, wait); });
}

int32_t ChangeSignalSgroupTorvik(void* torvik, uint8_t group, uint16_t value)
{
    return Guarded(torvik, [&](Torvik& t) { return t.ChangeSignalSgroup(group, value); });
}

int32_t ExecuteSignalChangeTorvik(void* torvik, bool wait)
{
    return Guarded(torvik, [&](Torvik& t) { return t.ExecuteSignalChange(wait); });
}

int32_t SetSignalControlTorvik(void* torvik, uint16_t handler, uint8_t control, uint32_t param1, uint32_t param2,
                               uint32_t param3)
{
    return Guarded(torvik, [&](Torvik& t) { return t.SetSignalControl(handler, control, param1, param2, param3); });
}

int32_t RequestMessageTorvik(void* torvik, uint8_t channel, uint32_t id, uint8_t flag, bool extended, uint8_t dlc,
                             bool frameFlag1, bool frameFlag2, const uint8_t* data)
{
    return Guarded(torvik, [&](Torvik& t) {
        return t.RequestMessage(channel, id, flag, extended, dlc, frameFlag1, frameFlag2, data);
    });
}

int32_t EnableRequestTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.EnableRequest(handler); });
}

int32_t DisableRequestTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.DisableRequest(handler); });
}

int32_t RemoveRequestTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.RemoveRequest(handler); });
}

int32_t RequestSignalTorvik(void* torvik, uint32_t requestKey, uint32_t startSymbol, uint32_t stopSymbol)
{
    return Guarded(torvik, [&](Torvik& t) { return t.RequestSignal(requestKey, startSymbol, stopSymbol); });
}

int32_t SignalReadValue32Torvik(void* torvik, int32_t index, uint32_t* value, uint32_t* age, bool flag)
{
    if (value == nullptr) {
        return -5;
    }
    return Guarded(torvik, [&](Torvik& t) { return t.SignalReadValue(index, *value, age, flag); });
}

int32_t SignalReadValue64Torvik(void* torvik, int32_t index, uint64_t* value, uint32_t* age, bool flag)
{
    if (value == nullptr) {
        return -5;
    }
    return Guarded(torvik, [&](Torvik& t) { return t.SignalReadValue(index, *value, age, flag); });
}

int32_t ReadAsyncMsgTorvik(void* torvik, uint32_t key, tagAsyncMessage* message, uint8_t* data, uint32_t dataLength)
{
    return Guarded(torvik, [&](Torvik& t) -> std::int32_t {
        const RecvAsyncMessage record = t.ReadAsyncMessage(key);
        if (record.key == 0) {
            return -1;
        }
        if (message != nullptr) {
            message->key = record.key;
            message->msgNumber = record.msgNumber;
            message->channel = record.channel;
            message->dlc = record.dlc;
            message->flag7 = record.flag7 ? 1 : 0;
            message->flag6 = record.flag6 ? 1 : 0;
            message->flag5 = record.flag5 ? 1 : 0;
            message->flag4 = record.flag4 ? 1 : 0;
            message->timeMs = record.time;
        }
        if (data == nullptr) {
            return 0;
        }
        const std::size_t room = dataLength & 0xFFu;
        const std::size_t count = std::min(room, record.data.size());
        std::copy(record.data.begin(), record.data.begin() + static_cast<std::ptrdiff_t>(count), data);
        return static_cast<std::int32_t>(count);
    });
}

int32_t AddCrcTorvik(void* torvik, const uint8_t* block)
{
    if (block == nullptr) {
        return -5;
    }
    return Guarded(torvik, [&](Torvik& t) { return t.AddCrc(block); });
}

int32_t ChangeCrcTorvik(void* torvik, uint16_t handler, const uint8_t* block)
{
    return Guarded(torvik, [&](Torvik& t) { return t.ChangeCrc(handler, block); });
}

int32_t DisableCrcTorvik(void* torvik, uint16_t handler)
{
    return Guarded(torvik, [&](Torvik& t) { return t.DisableCrc(handler); });
}

int32_t LastReplyTorvik(void* torvik)
{
    return Guarded(torvik, [](Torvik& t) { return static_cast<int32_t>(t.LastReply()); });
}

int32_t ReadEepromTorvik(void* torvik, uint16_t address, uint8_t length, uint8_t* out)
{
    return Guarded(torvik, [&](Torvik& t) { return t.ReadEeprom(address, length, out); });
}

int32_t WriteEepromTorvik(void* torvik, uint16_t address, uint8_t length, const uint8_t* data)
{
    return Guarded(torvik, [&](Torvik& t) { return t.WriteEeprom(address, length, data); });
}

int32_t GetTimeTorvik(void* torvik, int64_t* out)
{
    return Guarded(torvik, [&](Torvik& t) { return t.GetTime(out); });
}

int32_t SetTimeTorvik(void* torvik, int64_t value)
{
    return Guarded(torvik, [&](Torvik& t) { return t.SetTime(value); });
}

void DebugCommTorvik(void* torvik, const char* path)
{
    GuardedVoid(torvik, [&](Torvik& t) { t.DebugComm(path, std::ios_base::out | std::ios_base::trunc); });
}

int32_t SetPrintFileTorvik(void* torvik, FILE* file, int channel)
{
    return Guarded(torvik, [&](Torvik& t) { return t.SetPrintStream(file, channel); });
}

int32_t ClearPrintFileTorvik(void* torvik, FILE* file, int channel)
{
    return Guarded(torvik, [&](Torvik& t) { return t.ClearPrintStream(file, channel); });
}

int32_t SetPrintFunctionTorvik(void* torvik, TorvikPrintFunction function, int channel)
{
    return Guarded(torvik, [&](Torvik& t) { return t.SetPrintStream(static_cast<PrintFunction>(function), channel); });
}

int32_t ClearPrintFunctionTorvik(void* torvik, TorvikPrintFunction function, int channel)
{
    return Guarded(torvik,
                   [&](Torvik& t) { return t.ClearPrintStream(static_cast<PrintFunction>(function), channel); });
}

int32_t PrintfErrTorvik(void* torvik, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::int32_t r = Guarded(torvik, [&](Torvik& t) { return t.vPrintf_err(format, args); });
    va_end(args);
    return r;
}

int32_t PrintfInfTorvik(void* torvik, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::int32_t r = Guarded(torvik, [&](Torvik& t) { return t.vPrintf_inf(format, args); });
    va_end(args);
    return r;
}

}  // extern "C"
