#ifndef DEVICELINK_TORVIK_TYPES_H
#define DEVICELINK_TORVIK_TYPES_H

/* Records shared by the session class and the C interface. */

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdbool.h>
#include <stdint.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A CAN message the device shall send. */
typedef struct tagCanMessage {
    uint8_t dlc;       /* DLC code 0 to 15 */
    uint8_t channel;   /* channel byte */
    uint8_t channel2;  /* second channel byte */
    uint32_t id;       /* CAN identifier, 29 bits used */
    bool extended;     /* extended (29-bit) identifier */
    bool frameFlag1;   /* sent in bit 6 of the flag byte */
    bool frameFlag2;   /* bit 5 */
    bool frameFlag3;   /* bit 4 */
    uint8_t option;    /* option byte */
    uint8_t enable;    /* enable byte */
    bool fastSlowSend; /* bit 7 of the flag byte */
    uint16_t time1;    /* goes to time field 2 of the message record */
    uint16_t time2;    /* goes to time field 1 */
    uint16_t time3;    /* goes to time field 3 */
} tagCanMessage;

/* The last asynchronous CAN message received under a key (ReadAsyncMsgTorvik). */
typedef struct tagAsyncMessage {
    uint32_t key; /* channel * 65536 + message number; 0 when none */
    uint16_t msgNumber;
    uint8_t channel;
    uint8_t dlc;
    uint8_t flag7; /* bits 7, 6, 5, 4 of the packet's flag byte */
    uint8_t flag6;
    uint8_t flag5;
    uint8_t flag4;
    uint32_t timeMs; /* receive time, milliseconds of the monotonic clock */
} tagAsyncMessage;

#ifdef __cplusplus
}
#endif

#endif
