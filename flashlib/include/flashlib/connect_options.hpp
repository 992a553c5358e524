#pragma once

namespace kq::flashlib {

/// Options of the serial in-system programming connection. The member defaults are the
/// connection defaults of the device (LPC1769 at 12 MHz, 230400 baud on COM1).
struct fm_connectoptions_com {
    double osc = 12.0;            ///< oscillator frequency in MHz (OSC)
    char comport[50] = "COM1";    ///< "COM<n>" or a device path
    int baudrate = 230400;        ///< BAUDRATE
    int selecteddevice = 2011;    ///< device number of the flash table (SELECTEDDEVICE)
    int highspeed = 0;            ///< HIGHSPEED
    int clocks = 0;               ///< CLOCKS
    int halfduplex = 0;           ///< HALFDUPLEX
    int hwconfig = 1;             ///< HWCONFIG: 1 boot-exec, 2 boot-exec RTS, 3 assert, 4 MCB900
    int hwt1 = 50;                ///< HWT1
    int hwt2 = 100;               ///< HWT2
    int maxbaudrate = 115200;     ///< MAXBAUDRATE
    int usinginterface = 0;       ///< USINGINTERFACE
    int interfacetype = 0;        ///< INTERFACETYPE
    int flashbank = 0;            ///< FLASHBANK
    int protocoloptions = 4;      ///< PROTOCOLOPTIONS
    int postopendelay = 0;        ///< POSTOPENDELAY
};

}  // namespace kq::flashlib
