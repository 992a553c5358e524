#!/usr/bin/env python3
"""Writes the large DBC file the parser benchmark reads: 5,000 messages of 20 signals each, with
attribute definitions, defaults and values on messages and signals (GenSigStartValue on every signal),
value descriptions, comments, multiplexed messages and transmitter lists. Deterministic."""

import sys

MESSAGES = 5000
SIGNALS = 20
NODES = [f"Node_{i:02d}" for i in range(12)]
UNITS = ["km/h", "degC", "rpm", "V", "A", "%", "bar", "Nm", "m/s^2", ""]


def message_id(m):
    # Every third message carries a 29-bit identifier (bit 31 set).
    return (0x80000000 | (0x18F00000 + m)) if m % 3 == 0 else 0x100 + m


def new_symbols():
    """The NS_ block and the empty BS_ line that start every file a database editor writes."""
    keywords = ("NS_DESC_", "CM_", "BA_DEF_", "BA_", "VAL_", "CAT_DEF_", "CAT_", "FILTER", "BA_DEF_DEF_",
                "EV_DATA_", "ENVVAR_DATA_", "SGTYPE_", "SGTYPE_VAL_", "BA_DEF_SGTYPE_", "BA_SGTYPE_",
                "SIG_TYPE_REF_", "VAL_TABLE_", "SIG_GROUP_", "SIG_VALTYPE_", "SIGTYPE_VALTYPE_", "BO_TX_BU_",
                "BA_DEF_REL_", "BA_REL_", "BA_DEF_DEF_REL_", "BU_SG_REL_", "BU_EV_REL_", "BU_BO_REL_",
                "SG_MUL_VAL_")
    return "NS_ :\n" + "".join(f"\t{keyword}\n" for keyword in keywords) + "\nBS_:\n\n"


def main(path):
    out = []
    w = out.append
    w('VERSION "1.0"\n\n\n')
    w(new_symbols())
    w("BU_: " + " ".join(NODES) + "\n")
    w('VAL_TABLE_ OnOff 1 "On" 0 "Off" ;\n')
    w('VAL_TABLE_ Gear 3 "Drive" 2 "Neutral" 1 "Reverse" 0 "Park" ;\n\n\n')

    for m in range(MESSAGES):
        mid = message_id(m)
        sender = NODES[m % len(NODES)]
        multiplexed = m % 4 == 0
        w(f"BO_ {mid} Message_{m:05d}: {8 if m % 5 else 64} {sender}\n")
        for s in range(SIGNALS):
            name = f"Msg{m:05d}_Signal_{s:02d}"
            if multiplexed and s == 0:
                mux = " M"
            elif multiplexed:
                mux = f" m{s % 4}"
            else:
                mux = ""
            start = (s * 13) % 64
            length = 1 + (s * 7) % 16
            order = "1" if s % 3 else "0"
            sign = "-" if s % 4 == 1 else "+"
            factor = ("1", "0.1", "0.01", "0.5", "0.0625")[s % 5]
            offset = ("0", "-40", "-273.15", "100")[s % 4]
            low, high = ("0", f"{(1 << length) - 1}") if s % 2 else ("-40", "215.5")
            unit = UNITS[s % len(UNITS)]
            receivers = ",".join(NODES[(m + s + k) % len(NODES)] for k in range(1 + s % 3))
            w(f" SG_ {name}{mux} : {start}|{length}@{order}{sign} ({factor},{offset}) [{low}|{high}] "
              f'"{unit}" {receivers}\n')
        w("\n")
    w("\n\n")

    for m in range(0, MESSAGES, 10):
        senders = ",".join(NODES[(m + k) % len(NODES)] for k in range(2))
        w(f"BO_TX_BU_ {message_id(m)} : {senders};\n")

    w('CM_ "Generated network for the parser benchmark.";\n')
    for i, node in enumerate(NODES):
        w(f'CM_ BU_ {node} "Electronic control unit number {i}";\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        w(f'CM_ BO_ {mid} "Message {m} carries {SIGNALS} signals of the generated network.";\n')
        for s in range(0, SIGNALS, 4):
            w(f'CM_ SG_ {mid} Msg{m:05d}_Signal_{s:02d} "Signal {s} of message {m};\nsecond line of the comment.";\n')

    w('BA_DEF_  "DBName" STRING ;\n')
    w('BA_DEF_  "BusType" STRING ;\n')
    w('BA_DEF_ BU_  "NodeLayerModules" STRING ;\n')
    w('BA_DEF_ BU_  "ILUsed" ENUM  "No","Yes";\n')
    w('BA_DEF_ BO_  "GenMsgCycleTime" INT 0 65535;\n')
    w('BA_DEF_ BO_  "GenMsgSendType" ENUM  "Cyclic","NotUsed","IfActive","NoMsgSendType";\n')
    w('BA_DEF_ BO_  "GenMsgStartDelayTime" INT 0 65535;\n')
    w('BA_DEF_ BO_  "VFrameFormat" ENUM  "StandardCAN","ExtendedCAN","reserved","J1939PG";\n')
    w('BA_DEF_ SG_  "GenSigStartValue" INT -2147483648 2147483647;\n')
    w('BA_DEF_ SG_  "GenSigSendType" ENUM  "Cyclic","OnWrite","OnChange","IfActive";\n')
    w('BA_DEF_ SG_  "GenSigInactiveValue" INT 0 1000000;\n')
    w('BA_DEF_ SG_  "GenSigTimeoutValue" FLOAT 0 1000;\n')
    w('BA_DEF_REL_ BU_BO_REL_  "GenMsgTimeoutTime" INT 0 65535;\n')
    w('BA_DEF_REL_ BU_SG_REL_  "GenSigTimeoutTime" INT 0 65535;\n')
    w('BA_DEF_DEF_  "DBName" "";\n')
    w('BA_DEF_DEF_  "BusType" "CAN";\n')
    w('BA_DEF_DEF_  "NodeLayerModules" "";\n')
    w('BA_DEF_DEF_  "ILUsed" "No";\n')
    w('BA_DEF_DEF_  "GenMsgCycleTime" 100;\n')
    w('BA_DEF_DEF_  "GenMsgSendType" "Cyclic";\n')
    w('BA_DEF_DEF_  "GenMsgStartDelayTime" 0;\n')
    w('BA_DEF_DEF_  "VFrameFormat" "StandardCAN";\n')
    w('BA_DEF_DEF_  "GenSigStartValue" 0;\n')
    w('BA_DEF_DEF_  "GenSigSendType" "Cyclic";\n')
    w('BA_DEF_DEF_  "GenSigInactiveValue" 0;\n')
    w('BA_DEF_DEF_  "GenSigTimeoutValue" 0;\n')
    w('BA_DEF_DEF_REL_ "GenMsgTimeoutTime" 0;\n')
    w('BA_DEF_DEF_REL_ "GenSigTimeoutTime" 0;\n')
    w('BA_ "DBName" "BenchNetwork";\n')
    w('BA_ "BusType" "CAN FD";\n')
    for i, node in enumerate(NODES):
        w(f'BA_ "NodeLayerModules" BU_ {node} "module{i}.dll";\n')
        w(f'BA_ "ILUsed" BU_ {node} {i % 2};\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        w(f'BA_ "GenMsgCycleTime" BO_ {mid} {10 * (1 + m % 100)};\n')
        w(f'BA_ "GenMsgSendType" BO_ {mid} {m % 3};\n')
        if m % 3 == 0:
            w(f'BA_ "VFrameFormat" BO_ {mid} 1;\n')
        w(f'BA_REL_ "GenMsgTimeoutTime" BU_BO_REL_ {NODES[m % len(NODES)]} {mid} {500 + m % 7};\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        for s in range(SIGNALS):
            name = f"Msg{m:05d}_Signal_{s:02d}"
            start_value = -(m + s) if s % 4 == 1 else (m * 7 + s) % 5000
            w(f'BA_ "GenSigStartValue" SG_ {mid} {name} {start_value};\n')
            if s % 5 == 0:
                w(f'BA_ "GenSigSendType" SG_ {mid} {name} {s % 4};\n')
            if s % 10 == 3:
                w(f'BA_ "GenSigTimeoutValue" SG_ {mid} {name} {s * 2.5};\n')
    for m in range(MESSAGES):
        mid = message_id(m)
        for s in range(2, SIGNALS, 5):
            w(f'VAL_ {mid} Msg{m:05d}_Signal_{s:02d} 3 "Error" 2 "Not available" 1 "Active" 0 "Inactive" ;\n')
    for m in range(0, MESSAGES, 50):
        w(f"SIG_VALTYPE_ {message_id(m)} Msg{m:05d}_Signal_19 : 1;\n")

    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
