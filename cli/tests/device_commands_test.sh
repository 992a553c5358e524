#!/usr/bin/env bash
# torvik ping/eeprom against torvik4-sim: results, and one clear line with exit status 1 on each failure.
# Usage: device_commands_test.sh TORVIK TORVIK4_SIM
set -u
torvik=$1
sim=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0

start_sim() {  # start_sim NAME [options]: prints nothing, sets $port
  local name=$1
  shift
  "$sim" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(head -n 1 "$work/$name.out" 2>/dev/null)
    [[ -n $port ]] && return 0
    sleep 0.02
  done
  echo "simulator did not start"; exit 1
}

matches() {  # matches PATTERN FILE: "-" wants an empty file, anything else a matching line
  if [[ $1 == - ]]; then [[ ! -s $2 ]]; else grep -qE -- "$1" "$2"; fi
}

expect() {  # expect STATUS STDOUT-PATTERN STDERR-PATTERN -- command...
  local status=$1 out_pattern=$2 err_pattern=$3
  shift 4
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [[ $got -ne $status ]] || ! matches "$out_pattern" "$work/out" || ! matches "$err_pattern" "$work/err"; then
    echo "FAILED: $* (status $got)"; cat "$work/out" "$work/err"
    failures=$((failures + 1))
  fi
}

start_sim device --state "$work/state"
expect 0 "answered in .* protocol level 100" - -- "$torvik" ping --port "$port"
expect 0 "^0040: FF$" - -- "$torvik" eeprom read --port "$port" 64 1
expect 0 "wrote 3 bytes at address 100" - -- "$torvik" eeprom write --port "$port" 100 0x41 66 0xFF
expect 0 "^0064: 41 42 FF$" - -- "$torvik" eeprom read --port "$port" 0x64 3
expect 0 "wrote 1 bytes at address 103" - -- "$torvik" eeprom write --port "$port" --reboot 103 0x43
expect 1 - "^torvik: EEPROM address 29 is reserved; writes start at 30$" -- \
  "$torvik" eeprom write --port "$port" 29 1
expect 1 - "^torvik: the range of 2 bytes at 4095 is outside the 4096-byte EEPROM$" -- \
  "$torvik" eeprom read --port "$port" 4095 2
expect 1 - "^torvik: invalid byte '256'" -- "$torvik" eeprom write --port "$port" 100 256
# Numbers are decimal or 0x hexadecimal, whatever their leading zeros.
expect 0 "wrote 3 bytes at address 40" - -- "$torvik" eeprom write --port "$port" 040 010 0x0A 08
expect 0 "^0028: 0A 0A 08$" - -- "$torvik" eeprom read --port "$port" 040 03
for bad in 0x +5 " 5" 5. 0x1G 0b1 -0; do
  pattern=$(printf '%s' "$bad" | sed 's/[][\\.*^$+?(){}|]/\\&/g')
  expect 1 - "^torvik: invalid byte '$pattern' \\(0 to 255\\)$" -- "$torvik" eeprom write --port "$port" 100 "$bad"
done
expect 1 - "^torvik: cannot open port /nonexistent/tty \\(No such file or directory\\)$" -- \
  "$torvik" ping --port /nonexistent/tty
expect 1 - "^torvik: cannot open port COM250 " -- "$torvik" ping --port COM250

# A device that never answers again after its restart fails the command; the bytes are in.
start_sim gone --state "$work/gone" --reboot-ms 600000
expect 1 - "^torvik: the device did not answer after the restart \\(result -14\\); the bytes were written$" -- \
  "$torvik" eeprom write --port "$port" --reboot 100 7

# An answer that is lost or garbled is no refusal: the bytes may be in, and here they are. The first
# answer (to the connect probe) is sound, the second (to the write) has a bad checksum.
start_sim garbled --state "$work/garbled" --corrupt-checksum 2
expect 1 - "^torvik: no valid answer from the device to writing 3 bytes at address 200 \\(result -14\\); the bytes may have been written$" -- \
  "$torvik" eeprom write --port "$port" 200 1 2 3
start_sim notices --state "$work/garbled" --hw-errors
expect 1 - "^torvik: the device acknowledged writing 1 bytes at address 203 but reported a hardware error \\(result 65536\\)$" -- \
  "$torvik" eeprom write --port "$port" 203 4
# A device that says no has not written anything: that is a refusal.
start_sim protected --state "$work/garbled" --write-protect
expect 1 - "^torvik: the device refused writing 1 bytes at address 204 \\(result -14\\)$" -- \
  "$torvik" eeprom write --port "$port" 204 5
start_sim sound --state "$work/garbled"
expect 0 "^00C8: 01 02 03 04 FF$" - -- "$torvik" eeprom read --port "$port" 200 5
# The answer to the connect probe takes the first nine bytes; the tenth, which starts the next answer, is lost.
start_sim dropping --drop-every 10
expect 1 - "^torvik: no valid answer from the device to reading 16 bytes at address 100 \\(result -14\\)$" -- \
  "$torvik" eeprom read --port "$port" 100 16

start_sim silent --silent
expect 1 - "^torvik: no answer from a device on $port$" -- "$torvik" ping --port "$port" --timeout 100
expect 1 - "^torvik: no answer from a device on $port$" -- "$torvik" ping --port "$port" --timeout 1
# A time-out outside 1 ms to 60 s is a usage error, before any port is opened.
for timeout in 0 60001 4294967295 4294967296 -1; do
  expect 1 - "^torvik: --timeout: " -- "$torvik" ping --port "$port" --timeout "$timeout"
done

# A port that another program holds is in use, whoever asks. The holder waits for an answer that never
# comes; it has the port once it holds the lock on it.
"$torvik" ping --port "$port" --timeout 60000 >/dev/null 2>&1 &
holder=$!
pids+=("$holder")
held=
for _ in $(seq 500); do
  for fd in /proc/$holder/fd/*; do
    if [[ $(readlink "$fd") == "$port" ]] && grep -q "^lock:" "/proc/$holder/fdinfo/${fd##*/}" 2>/dev/null; then
      held=1
    fi
  done
  [[ -n $held ]] && break
  sleep 0.02
done
[[ -n $held ]] || { echo "FAILED: the holder never opened $port"; failures=$((failures + 1)); }
expect 1 - "^torvik: port $port is in use by another program \\(Device or resource busy\\)$" -- \
  "$torvik" ping --port "$port" --timeout 100
kill "$holder" 2>/dev/null

# The flash through the boot loader: a device in its application is asked into the boot loader, and
# restarted into its application after each command. 8 KB across the 64 KB boundary (sectors 15 and 16).
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
data = bytes((i * 37 + 11) & 0xFF for i in range(8192))
def record(kind, address, payload):
    body = bytes([len(payload), address >> 8, address & 0xFF, kind]) + payload
    return ":" + body.hex().upper() + "%02X" % (-sum(body) & 0xFF) + "\r\n"
lines = [record(4, 0, b"\x00\x00")]
for at in range(0, len(data), 16):
    address = 0xF000 + at
    if address == 0x10000:
        lines.append(record(4, 0, b"\x00\x01"))
    lines.append(record(0, address & 0xFFFF, data[at:at + 16]))
lines.append(record(1, 0, b""))
open(work + "/image.hex", "w", newline="").write("".join(lines))
open(work + "/image.bin", "wb").write(data)
crp = bytearray(b"\xff" * 0x300)
crp[0x2FC:0x300] = (0x87654321).to_bytes(4, "little")
lines = [record(0, at, bytes(crp[at:at + 16])) for at in range(0, len(crp), 16)] + [record(1, 0, b"")]
open(work + "/locking.hex", "w", newline="").write("".join(lines))
open(work + "/keep.hex", "w", newline="").write(record(0, 0x100, bytes(range(16))) + record(1, 0, b""))
PY
start_sim flash
expect 0 '"product_code": 65535' - -- "$torvik" flash info --port "$port" --json
expect 0 "image.hex: written and verified \\(sectors 15-16\\)" - -- "$torvik" flash write --port "$port" "$work/image.hex"
expect 0 '"format": "raw"' - -- "$torvik" flash read --port "$port" 0xF000 8192 -o "$work/back.bin" --json
cmp -s "$work/image.bin" "$work/back.bin" || { echo "FAILED: flash read gave other bytes"; failures=$((failures + 1)); }
expect 0 "written and verified \\(sector 0\\)" - -- "$torvik" flash write --port "$port" "$work/keep.hex"
expect 0 "768 bytes from 0x00000" - -- "$torvik" flash read --port "$port" 0 0x300 -o "$work/before.bin"
expect 1 - "^torvik: cannot program .*code read protection" -- "$torvik" flash write --port "$port" "$work/locking.hex"
"$torvik" flash read --port "$port" 0 0x300 -o "$work/after.bin" >/dev/null
cmp -s "$work/before.bin" "$work/after.bin" || { echo "FAILED: a refused file changed the flash"; failures=$((failures + 1)); }
expect 0 "sectors 15-16 erased and blank" - -- "$torvik" flash erase --port "$port" --sectors 15-16
expect 1 - "^torvik: invalid sector '30'" -- "$torvik" flash erase --port "$port" --sectors 15-30

# Without --port the settings choose: here a manual port named by its path, in a settings file of our own.
export TORVIK_SETTINGS="$work/settings.ini"
start_sim chosen
expect 1 - "^torvik: no --port given, and the settings choose no port \\(no serial adapter calls itself Torvik4" -- \
  "$torvik" ping
expect 0 "SetAutoNotManual = 0" - -- "$torvik" settings set SetAutoNotManual 0
expect 0 "ManualSetComPortPath = $port" - -- "$torvik" settings set ManualSetComPortPath "$port"
expect 1 - "^torvik: ManualSetComPort takes a COM number, or -1 for none$" -- "$torvik" settings set ManualSetComPort COM3
expect 1 - "^torvik: no setting 'Baud'" -- "$torvik" settings set Baud 1
expect 0 "\"port\": \"$port\"" - -- "$torvik" settings show --json
expect 0 "^$port: Torvik4 answered" - -- "$torvik" ping
unset TORVIK_SETTINGS

exit $((failures > 0))
