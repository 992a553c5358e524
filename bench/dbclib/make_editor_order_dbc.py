#!/usr/bin/env python3
"""Writes the second DBC file the parser benchmark reads, laid out in the statement order database editors write:
every message with its signals first (signals by start bit, not by name), then
all comments, attribute definitions and values, relation attributes and, last, about 17,000 value
description lines. Names run up to 40 characters; those longer than 32 are cut in the BU_, BO_ and SG_
lines and kept whole in the long-symbol attributes. Deterministic."""

import sys

from make_large_dbc import new_symbols

MESSAGES = 3400
NODES = [f"ECU_{name}" for name in ("Engine", "Gearbox", "Brakes", "Steering", "Body", "Gateway", "Cluster",
                                    "Infotainment", "Climate", "Seat_Memory_Front_Left_Module", "Airbag",
                                    "Parking_Assistance_Rear_Sensors_Unit", "Battery", "Charger")]
WORDS = ["Wheel", "Speed", "Torque", "Request", "Status", "Counter", "Checksum", "Temperature", "Pressure",
         "Position", "Actual", "Target", "Front", "Rear", "Left", "Right", "Valid", "Qualifier", "Limit"]
UNITS = ["km/h", "degC", "rpm", "V", "A", "%", "bar", "Nm", "m/s^2", ""]


def cut(name):
    return name[:32]


def message_id(m):
    # Every other message carries a 29-bit identifier (bit 31 set).
    return (0x80000000 | (0x0CF00000 + m * 3)) if m % 2 else 0x080 + m


def signal_name(m, s):
    words = "_".join(WORDS[(m * 7 + s * 3 + k) % len(WORDS)] for k in range(1 + (m + s) % 4))
    return f"S{s:02d}_{m:04d}_{words}"[:40]


def message_name(m):
    return f"Frame_{m:04d}_{WORDS[m % len(WORDS)]}_{WORDS[(m // 3) % len(WORDS)]}" + ("_Extended_Info" * (m % 3 == 0))


def signal_count(m):
    return 4 + (m * 11) % 37


def main(path):
    out = []
    w = out.append
    w('VERSION ""\n\n\n')
    w(new_symbols())
    w("BU_: " + " ".join(cut(n) for n in NODES) + "\n")
    w('VAL_TABLE_ Qualifier 3 "Error" 2 "Init" 1 "Invalid" 0 "Valid" ;\n\n\n')

    for m in range(MESSAGES):
        sender = cut(NODES[m % len(NODES)])
        length = 64 if m % 6 == 0 else 8
        w(f"BO_ {message_id(m)} {cut(message_name(m))}: {length} {sender}\n")
        bits = length * 8
        multiplexed = m % 9 == 0
        for s in range(signal_count(m)):
            size = 1 + (s * 5) % 16
            start = (s * 17) % (bits - 16)
            mux = " M" if multiplexed and s == 0 else (f" m{s % 3}" if multiplexed else "")
            order = "1" if (m + s) % 4 else "0"
            sign = "-" if s % 5 == 2 else "+"
            factor = ("1", "0.1", "0.05", "0.5", "0.015625")[s % 5]
            offset = ("0", "-40", "-327.68", "10")[s % 4]
            receivers = ",".join(cut(NODES[(m + s + k) % len(NODES)]) for k in range(1 + s % 4))
            w(f' SG_ {cut(signal_name(m, s))}{mux} : {start}|{size}@{order}{sign} ({factor},{offset}) '
              f'[0|{(1 << size) - 1}] "{UNITS[s % len(UNITS)]}"  {receivers}\n')
        w("\n")
    w("\n\n")

    w('CM_ "Generated network in the statement order of database editors.";\n')
    for i, node in enumerate(NODES):
        w(f'CM_ BU_ {cut(node)} "Control unit {i}";\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        w(f'CM_ BO_ {mid} "Frame {m} of the generated network.";\n')
        for s in range(0, signal_count(m), 3):
            w(f'CM_ SG_ {mid} {cut(signal_name(m, s))} "Signal {s} of frame {m};\nsecond line.";\n')

    for definition in (
            'BA_DEF_ SG_  "SystemSignalLongSymbol" STRING ;',
            'BA_DEF_ BO_  "SystemMessageLongSymbol" STRING ;',
            'BA_DEF_ BU_  "SystemNodeLongSymbol" STRING ;',
            'BA_DEF_ SG_  "GenSigStartValue" INT -2147483648 2147483647;',
            'BA_DEF_ SG_  "GenSigSendType" ENUM  "Cyclic","OnWrite","OnChange","IfActive","NoSigSendType";',
            'BA_DEF_ BO_  "GenMsgCycleTime" INT 0 65535;',
            'BA_DEF_ BO_  "GenMsgSendType" ENUM  "Cyclic","NotUsed","IfActive","NoMsgSendType";',
            'BA_DEF_ BO_  "VFrameFormat" ENUM  "StandardCAN","ExtendedCAN","reserved","J1939PG";',
            'BA_DEF_ BU_  "NodeLayerModules" STRING ;',
            'BA_DEF_  "DBName" STRING ;',
            'BA_DEF_  "BusType" STRING ;',
            'BA_DEF_REL_ BU_SG_REL_  "GenSigTimeoutTime" INT 0 65535;',
            'BA_DEF_REL_ BU_BO_REL_  "GenMsgTimeoutTime" INT 0 65535;'):
        w(definition + "\n")
    for default in ('"SystemSignalLongSymbol" ""', '"SystemMessageLongSymbol" ""', '"SystemNodeLongSymbol" ""',
                    '"GenSigStartValue" 0', '"GenSigSendType" "Cyclic"', '"GenMsgCycleTime" 100',
                    '"GenMsgSendType" "Cyclic"', '"VFrameFormat" "StandardCAN"', '"NodeLayerModules" ""',
                    '"DBName" ""', '"BusType" "CAN"'):
        w(f"BA_DEF_DEF_  {default};\n")
    w('BA_DEF_DEF_REL_ "GenSigTimeoutTime" 0;\n')
    w('BA_DEF_DEF_REL_ "GenMsgTimeoutTime" 0;\n')
    w('BA_ "BusType" "CAN FD";\n')
    w('BA_ "DBName" "EditorOrderNetwork";\n')
    for node in NODES:
        if len(node) > 32:
            w(f'BA_ "SystemNodeLongSymbol" BU_ {cut(node)} "{node}";\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        w(f'BA_ "GenMsgCycleTime" BO_ {mid} {10 * (1 + m % 50)};\n')
        if m % 2:
            w(f'BA_ "VFrameFormat" BO_ {mid} 1;\n')
        if len(message_name(m)) > 32:
            w(f'BA_ "SystemMessageLongSymbol" BO_ {mid} "{message_name(m)}";\n')
        for s in range(signal_count(m)):
            name = signal_name(m, s)
            if s % 2 == 0:
                w(f'BA_ "GenSigStartValue" SG_ {mid} {cut(name)} {(m + s) % 200};\n')
            if len(name) > 32:
                w(f'BA_ "SystemSignalLongSymbol" SG_ {mid} {cut(name)} "{name}";\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        w(f'BA_REL_ "GenMsgTimeoutTime" BU_BO_REL_ {cut(NODES[(m + 1) % len(NODES)])} {mid} {500 + m % 9};\n')
        for s in range(0, signal_count(m), 4):
            w(f'BA_REL_ "GenSigTimeoutTime" BU_SG_REL_ {cut(NODES[(m + s) % len(NODES)])} SG_ {mid} '
              f'{cut(signal_name(m, s))} {100 + s};\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        for s in range(1, signal_count(m), 4):
            w(f'VAL_ {mid} {cut(signal_name(m, s))} 3 "Error" 2 "Init" 1 "Invalid" 0 "Valid" ;\n')
    for m in range(0, MESSAGES, 40):
        w(f"SIG_VALTYPE_ {message_id(m)} {cut(signal_name(m, 0))} : 1;\n")

    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
