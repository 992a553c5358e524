#ifndef DEVICELINK_TORVIK_API_H
#define DEVICELINK_TORVIK_API_H

/* The flat interface of libTorvikAPI.so: a session is an opaque pointer from NewTorvik, owned by the
 * caller until DeleteTorvik. Results are those of the session class; no function lets an exception out
 * (an unexpected failure inside gives TORVIK_INTERNAL_ERROR). */

#include <devicelink/torvik_types.h>

#ifdef __cplusplus
#include <cstdio>
extern "C" {
#else
#include <stdio.h>
#endif

#define TORVIK_C_API __attribute__((visibility("default")))

/* Result of a function whose work failed in an unexpected way (out of memory, thread creation). */
#define TORVIK_INTERNAL_ERROR (-9999)

typedef void (*TorvikPrintFunction)(const char* text);

/* Whether the library writes to the console: diagnostics to standard error and, for sessions made
 * afterwards, their information and error channels to standard output and standard error. On by default;
 * a program that owns its console (the command line) turns it off. */
TORVIK_C_API void SetConsoleTorvik(bool on);

TORVIK_C_API void* NewTorvik(void);
TORVIK_C_API void DeleteTorvik(void* torvik);
TORVIK_C_API int32_t ConnectTorvik(void* torvik, const char* port, uint32_t readTimeout, uint32_t writeTimeout);
/* The system error (an errno value) that made the port part of the last ConnectTorvik fail (its results
 * -2 to -4): EBUSY when another program holds the port, ENOENT or ENODEV when there is no such port; 0
 * when that connect had no system error. */
TORVIK_C_API int32_t LastConnectErrorTorvik(void* torvik);
TORVIK_C_API int32_t DisconnectTorvik(void* torvik);
TORVIK_C_API int32_t StartReceiverTorvik(void* torvik);
TORVIK_C_API void StopReceiverTorvik(void* torvik);
TORVIK_C_API int32_t GetInternalThreadStatus(void* torvik);
TORVIK_C_API int32_t GetVersionTorvik(void* torvik);
TORVIK_C_API int32_t RebootTorvik(void* torvik, bool flag);
TORVIK_C_API int32_t ResetTorvik(void* torvik);
TORVIK_C_API int32_t BootloaderTorvik(void* torvik);
TORVIK_C_API int32_t BlobRemoveTorvik(void* torvik);
TORVIK_C_API int32_t AddMessageTorvik(void* torvik, const tagCanMessage* message, const uint8_t* payload);
TORVIK_C_API int32_t GetHandlerTorvik(void* torvik, uint8_t channel, uint8_t channel2, uint32_t id, bool extended,
                                      bool frameFlag1, bool frameFlag2);
TORVIK_C_API int32_t EnableMessageTorvik(void* torvik, uint16_t handler);
TORVIK_C_API int32_t DisableMessageTorvik(void* torvik, uint16_t handler);
TORVIK_C_API int32_t RemoveMessageTorvik(void* torvik, uint16_t handler);
TORVIK_C_API int32_t SetMessageDataTorvik(void* torvik, uint16_t handler, const uint8_t* data, const uint8_t* mask,
                                          uint8_t flag, bool wait);
TORVIK_C_API int32_t AddSignalTorvik(void* torvik, uint16_t messageHandler, uint8_t group, uint16_t startSymbol,
                                     uint16_t stopSymbol, uint8_t flags);
TORVIK_C_API int32_t RemoveSignalTorvik(void* torvik, uint16_t handler);
TORVIK_C_API int32_t SignalChangeValueTorvik(void* torvik, uint16_t handler, uint16_t value, uint8_t flag, bool wait);
TORVIK_C_API int32_t ChangeSignalSgroupTorvik(void* torvik, uint8_t group, uint16_t value);
TORVIK_C_API int32_t ExecuteSignalChangeTorvik(void* torvik, bool wait);
TORVIK_C_API int32_t SetSignalControlTorvik(void* torvik, uint16_t handler, uint8_t control, uint32_t param1,
                                            uint32_t param2, uint32_t param3);
TORVIK_C_API int32_t RequestMessageTorvik(void* torvik, uint8_t channel, uint32_t id, uint8_t flag, bool extended,
                                          uint8_t dlc, bool frameFlag1, bool frameFlag2, const uint8_t* data);
TORVIK_C_API int32_t EnableRequestTorvik(void* torvik, uint16_t handler);
TORVIK_C_API int32_t DisableRequestTorvik(void* torvik, uint16_t handler);
TORVIK_C_API int32_t RemoveRequestTorvik(void* torvik, uint16_t handler);
TORVIK_C_API int32_t RequestSignalTorvik(void* torvik, uint32_t requestKey, uint32_t startSymbol, uint32_t stopSymbol);
TORVIK_C_API int32_t SignalReadValue32Torvik(void* torvik, int32_t index, uint32_t* value, uint32_t* age, bool flag);
TORVIK_C_API int32_t SignalReadValue64Torvik(void* torvik, int32_t index, uint64_t* value, uint32_t* age, bool flag);
/* -1 when nothing was received under the key; else the bytes copied into data (0 without a buffer). */
TORVIK_C_API int32_t ReadAsyncMsgTorvik(void* torvik, uint32_t key, tagAsyncMessage* message, uint8_t* data,
                                        uint32_t dataLength);
TORVIK_C_API int32_t AddCrcTorvik(void* torvik, const uint8_t* block);
TORVIK_C_API int32_t ChangeCrcTorvik(void* torvik, uint16_t handler, const uint8_t* block);
TORVIK_C_API int32_t DisableCrcTorvik(void* torvik, uint16_t handler);
/* Identifier of the reply that ended the session's last wait for an answer (0x80 OK, 0x81 to 0x83 the
 * device's error replies, 0x91 or 0x92 data, or an unknown one), 0 when it ended without a valid answer.
 * A -14 result is a refusal when this is 0x81 to 0x83, and an unknown outcome when it is 0. */
TORVIK_C_API int32_t LastReplyTorvik(void* torvik);
TORVIK_C_API int32_t ReadEepromTorvik(void* torvik, uint16_t address, uint8_t length, uint8_t* out);
TORVIK_C_API int32_t WriteEepromTorvik(void* torvik, uint16_t address, uint8_t length, const uint8_t* data);
TORVIK_C_API int32_t GetTimeTorvik(void* torvik, int64_t* out);
TORVIK_C_API int32_t SetTimeTorvik(void* torvik, int64_t value);
TORVIK_C_API void DebugCommTorvik(void* torvik, const char* path);
TORVIK_C_API int32_t SetPrintFileTorvik(void* torvik, FILE* file, int channel);
TORVIK_C_API int32_t ClearPrintFileTorvik(void* torvik, FILE* file, int channel);
TORVIK_C_API int32_t SetPrintFunctionTorvik(void* torvik, TorvikPrintFunction function, int channel);
TORVIK_C_API int32_t ClearPrintFunctionTorvik(void* torvik, TorvikPrintFunction function, int channel);
TORVIK_C_API int32_t PrintfErrTorvik(void* torvik, const char* format, ...) __attribute__((format(printf, 2, 3)));
TORVIK_C_API int32_t PrintfInfTorvik(void* torvik, const char* format, ...) __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
}
#endif

#endif
