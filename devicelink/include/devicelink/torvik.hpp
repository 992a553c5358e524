#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <devicelink/torvik_types.h>
#include <devicelink/clock.hpp>
#include <devicelink/export.hpp>
#include <devicelink/printer.hpp>
#include <devicelink/serial_port.hpp>

namespace torvik::devicelink {

/// A packet received from the device: sequence byte, response identifier, payload.
struct TORVIK_API RecvMessage {
    std::uint8_t seq = 0;
    std::uint8_t id = 0;
    std::vector<std::uint8_t> payload;
};

/// An asynchronous CAN message reported by the device (identifier 0x90).
struct TORVIK_API RecvAsyncMessage {
    std::uint32_t key = 0;  ///< channel * 65536 + message number; 0 for "none"
    std::uint8_t channel = 0;
    std::uint16_t msgNumber = 0;
    std::uint8_t dlc = 0;
    bool flag7 = false;
    bool flag6 = false;
    bool flag5 = false;
    bool flag4 = false;
    std::vector<std::uint8_t> data;
    std::uint32_t time = 0;  ///< receive time, ms of the session's clock
};

/// Payload length of a CAN FD DLC code; -1 for a code above 15.
TORVIK_API int DlcLength(std::uint8_t dlc);

/// One session with one device: the serial port, the command protocol's sequence counter, an optional
/// receiver thread, and the bookkeeping of what was set up in the device. One calling thread at a time.
///
/// Result codes: 0 or a positive value (handler, status) on success. A negative transport result is
/// returned as it is; a failed wait for the answer r (-4 error response or no answer, -5 no answer while
/// the receiver runs) comes back as r - 10; the statuses a command lists as refusals come back as -21,
/// -22 or -23. Local checks return their own codes before anything is sent.
class TORVIK_API Torvik {
public:
    /// Command identifiers.
    enum CMD : std::uint8_t {
        ADD_MESSAGE = 0x01,
        REMOVE_MESSAGE = 0x02,
        ENABLE_MESSAGE = 0x03,
        DISABLE_MESSAGE = 0x04,
        SET_MESSAGE_DATA = 0x05,
        GET_HANDLER = 0x06,
        PING = 0x09,
        ADD_CRC = 0x0A,
        CHANGE_CRC = 0x0B,
        DISABLE_CRC = 0x0C,
        ADD_SIGNAL = 0x14,
        SIGNAL_CHANGE_VALUE = 0x15,
        REMOVE_SIGNAL = 0x16,
        EXECUTE_SIGNAL_CHANGE = 0x17,
        SET_SIGNAL_CONTROL = 0x18,
        GATEWAY_ID = 0x19,
        REBOOT = 0x20,
        BLOB_REMOVE = 0x21,
        REQUEST_MESSAGE = 0x22,
        ENABLE_REQUEST = 0x23,
        DISABLE_REQUEST = 0x24,
        REMOVE_REQUEST = 0x25,
        READ_EEPROM = 0x26,
        WRITE_EEPROM = 0x27,
        GET_TIME = 0x30,
        SET_TIME = 0x31,
    };

    /// Largest frame the session receives, plus one.
    static const std::uint32_t m_kBufferSize = 255;

    /// Attaches standard error to ERR and standard output to INF.
    Torvik();
    /// Copies the requested-signal list and the channels; the copy is not connected.
    Torvik(const Torvik& other);
    Torvik& operator=(const Torvik& other);
    ~Torvik();

    // Connection.
    /// Connects at 2,000,000 baud 8E1 and probes the device: 0; a port error (-1 to -4); r - 100 for a
    /// time-out error, r - 200 for a flush error, r - 300 for a failed probe (-314: no answer).
    std::int32_t Connect(const std::string& port, std::uint32_t readTimeout, std::uint32_t writeTimeout);
    /// The system error behind the port error of the last Connect (-2 to -4); empty when it had none.
    std::error_code LastConnectError() const { return port_.LastConnectError(); }
    std::int32_t Disconnect();
    std::int32_t GetTimeout(std::uint32_t& readTimeout, std::uint32_t& writeTimeout);
    std::int32_t SetTimeout(std::uint32_t readTimeout, std::uint32_t writeTimeout);
    /// 1 already running, 0 started, -1 it did not come up.
    std::int32_t StartReceiver();
    /// Returns within one read time-out.
    void StopReceiver();
    std::int32_t GetInternalThreadStatus();

    // Device control.
    std::int32_t Ping();
    std::int32_t GetVersion();
    /// Reboots (mode 0 or 1) and then pings every 50 ms until the device answers, for at most waitMs in
    /// all (each ping waits no longer than the time left). The reboot status, whether or not a ping was
    /// answered; a caller that needs the device back asks it again.
    std::int32_t Reboot(bool flag, std::uint32_t waitMs);
    std::int32_t Reset();
    std::int32_t Bootloader();

    // Messages.
    std::int32_t AddMessage(const tagCanMessage& message);
    std::int32_t AddMessage(const tagCanMessage& message, const std::vector<std::uint8_t>& payload);
    std::int32_t AddMessage(const std::uint8_t* payload, std::uint8_t dlc, std::uint8_t channel, std::uint8_t channel2,
                            std::uint32_t id, bool extended, bool frameFlag1, bool frameFlag2, bool frameFlag3,
                            std::uint8_t option, std::uint8_t enable, bool fastSlowSend, std::uint16_t time1,
                            std::uint16_t time2, std::uint16_t time3);
    std::int32_t GetHandler(std::uint8_t channel, std::uint8_t channel2, std::uint32_t id, bool extended,
                            bool frameFlag1, bool frameFlag2);
    std::int32_t EnableMessage(std::uint16_t handler);
    std::int32_t DisableMessage(std::uint16_t handler);
    std::int32_t RemoveMessage(std::uint16_t handler);
    std::int32_t SetMessageData(std::uint16_t handler, const std::uint8_t* data, const std::uint8_t* mask,
                                std::uint8_t flag, bool wait);

    // Signals.
    std::int32_t AddSignal(std::uint16_t messageHandler, std::uint8_t group, std::uint16_t startSymbol,
                           std::uint16_t stopSymbol, std::uint8_t flags);
    std::int32_t RemoveSignal(std::uint16_t handler);
    std::int32_t SignalChangeValue(std::uint16_t handler, std::uint16_t value, std::uint8_t flag, bool wait);
    std::int32_t ChangeSignalSgroup(std::uint8_t group, std::uint16_t value);
    std::int32_t ExecuteSignalChange(bool wait);
    std::int32_t SetSignalControl(std::uint16_t handler, std::uint8_t control, std::uint32_t param1,
                                  std::uint32_t param2, std::uint32_t param3);

    // Requests.
    std::int32_t RequestMessage(std::uint8_t channel, std::uint32_t id, std::uint8_t flag, bool extended,
                                std::uint8_t dlc, bool frameFlag1, bool frameFlag2, const std::uint8_t* data);
    std::int32_t EnableRequest(std::uint16_t handler);
    std::int32_t DisableRequest(std::uint16_t handler);
    std::int32_t RemoveRequest(std::uint16_t handler);
    /// Index of the new requested signal (1, 2, ...), or -1 for a bad range.
    std::int32_t RequestSignal(std::uint32_t requestKey, std::uint32_t startSymbol, std::uint32_t stopSymbol);
    /// 0 read; 1 nothing received yet; 2 message too short; -3 receiver not running; -4 no such requested
    /// signal; -1000 flag false.
    std::int32_t SignalReadValue(std::int32_t index, std::uint32_t& value, std::uint32_t* age, bool flag);
    std::int32_t SignalReadValue(std::int32_t index, std::uint64_t& value, std::uint32_t* age, bool flag);
    RecvAsyncMessage ReadAsyncMessage(std::uint32_t key);
    /// 0 found; -1 receiver not running; -2 not found within polls ms.
    std::int32_t ReadSyncMessage(std::uint8_t seq, RecvMessage& out, std::uint32_t polls, bool quiet);

    // CRC blocks, gateway, stored simulation.
    std::int32_t AddCrc(const std::uint8_t* block);
    std::int32_t ChangeCrc(std::uint16_t handler, const std::uint8_t* block);
    std::int32_t DisableCrc(std::uint16_t handler);
    std::int32_t GatewayID(std::uint8_t value1, std::uint32_t value2);
    std::int32_t BlobRemove();

    // EEPROM and clock.
    /// 0; -1 bad length; -2 null output; r - 10 failed wait; -666 wrong answer length.
    std::int32_t ReadEeprom(std::uint16_t address, std::uint8_t length, std::uint8_t* out);
    /// Status; -1 bad length or address below 30; r - 10; -21 refused.
    std::int32_t WriteEeprom(std::uint16_t address, std::uint8_t length, const std::uint8_t* data);
    std::int32_t GetTime(std::int64_t* out);
    std::int32_t SetTime(std::int64_t value);

    // Command protocol.
    std::int32_t SendCommand(std::uint8_t command, const std::vector<std::uint8_t>& payload, bool traced);
    std::int32_t SendCommandHandler(std::uint8_t command, std::uint16_t handler,
                                    const std::vector<std::uint8_t>& payload, bool traced);
    std::int32_t GetResponse(bool quiet);
    std::int32_t GetBytesResponse(std::vector<std::uint8_t>& out, bool quiet);
    std::int32_t ParseMessage(const std::vector<std::uint8_t>& frame, RecvMessage& out, bool quiet);
    std::int32_t CheckMessage(const std::vector<std::uint8_t>& packet, bool quiet);

    // Log channels.
    std::int32_t SetPrintStream(std::ostream* stream, int channel);
    std::int32_t SetPrintStream(PrintFunction function, int channel);
    std::int32_t SetPrintStream(std::FILE* file, int channel);
    std::int32_t ClearPrintStream(std::ostream* stream, int channel);
    std::int32_t ClearPrintStream(PrintFunction function, int channel);
    std::int32_t ClearPrintStream(std::FILE* file, int channel);
    std::int32_t ClearPrintStream(std::ostream* stream);
    std::int32_t ClearPrintStream(PrintFunction function);
    std::int32_t ClearPrintStream(std::FILE* file);
    std::int32_t ClearPrintStream();
    std::int32_t Printf_err(const char* format, ...) __attribute__((format(printf, 2, 3)));
    std::int32_t Printf_inf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    std::int32_t vPrintf_err(const char* format, va_list args);
    std::int32_t vPrintf_inf(const char* format, va_list args);
    /// Communication dump of one packet: direction > 0 sent, <= 0 received, < -1 bad.
    void DataPrint(const std::vector<std::uint8_t>& bytes, int direction);
    /// Copies every channel into a file (null path: stop).
    void DebugComm(const char* path, std::ios_base::openmode mode);

    // Beyond the device protocol: injection for tests and tools.
    SerialPort& GetSerialPort() { return port_; }
    void SetClock(std::shared_ptr<Clock> clock);
    std::int16_t ProtocolLevel() const { return level_; }
    std::uint8_t Sequence() const { return seq_; }
    /// Identifier of the reply that ended the last wait for an answer: 0x80 an OK packet, 0x81 to 0x83 the
    /// device's error replies, 0x91 or 0x92 data, or an unknown identifier; 0 when the wait ended without
    /// a valid answer (time-out, only bad frames). Tells a refusal from a lost answer, which both give
    /// r - 10 = -14.
    std::uint8_t LastReply() const { return last_reply_; }
    /// Sinks on a channel (-1 out of range).
    int PrintStreamCount(int channel) const { return printer_.Count(channel); }

private:
    struct SignalInfo {
        std::uint16_t start = 0;
        std::uint16_t stop = 0;
        std::uint8_t flags = 0;
        std::uint8_t group = 0;
    };

    void ReceiverThread() noexcept;
    void ClearBookkeeping();
    std::int32_t Await(bool quiet);
    /// Reports a reply that is neither an answer nor an acknowledgement (a failure or an unknown
    /// identifier): -4.
    std::int32_t FailedReply(std::uint8_t id);
    /// Reports that no valid answer came (unless `quiet`): -4.
    std::int32_t NoAnswer(bool quiet);
    std::int32_t Probe();
    std::int32_t SendAndAwait(std::uint8_t command, const std::vector<std::uint8_t>& payload);
    std::int32_t SendHandlerAndAwait(std::uint8_t command, std::uint16_t handler,
                                     const std::vector<std::uint8_t>& payload);
    std::int32_t AddMessageChecked(const tagCanMessage& message, const std::vector<std::uint8_t>& payload);
    template <typename T>
    std::int32_t ReadSignalBits(std::int32_t index, T& value, std::uint32_t* age, bool flag);

    std::mutex sync_mutex_;
    std::mutex async_mutex_;
    std::vector<std::vector<std::uint32_t>> requested_;
    std::unordered_map<std::uint16_t, SignalInfo> signals_;
    std::unordered_map<std::uint16_t, tagCanMessage> messages_;
    std::deque<RecvMessage> sync_;
    std::unordered_map<std::uint32_t, RecvAsyncMessage> async_;
    SerialPort port_;
    std::thread receiver_;
    std::atomic<bool> running_{false};
    std::int32_t requested_count_ = 0;
    std::uint8_t seq_ = 0;
    std::int16_t level_ = -1;
    std::uint8_t last_reply_ = 0;
    std::ofstream debug_;
    Printer printer_;
    std::shared_ptr<Clock> clock_;
};

}  // namespace torvik::devicelink
