#!/usr/bin/env bash
# torvik's project editing commands: the example simulation rebuilt from its DBC from scratch gives the
# example project's user block byte for byte; refused edits fail with one line and leave the file as it was.
# Usage: project_edit_commands_test.sh TORVIK EXAMPLES_FOLDER
set -u
torvik=$(realpath "$1")
examples=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cd "$work" || exit 1
cp "$examples/simulation.dbc" .

# ---- the example simulation, one command per edit ----
run() { "$torvik" "$@" >"$work/out" 2>"$work/err" || { fail "$* -> $(cat "$work/err")"; }; }
run project new sim.tsp --dbc simulation.dbc
run project setup sim.tsp --channel 4 --code 4
run project select sim.tsp EngineStatus --channels 1
run project select sim.tsp 0x200 --channels 2
run project select sim.tsp Diagnostics --channels 1,3 --cycle-time 500
run project select sim.tsp '*FD' --node Gateway --channels 4
run project message sim.tsp Diagnostics --mux-values 2,1
run project signal sim.tsp EngineStatus CoolantTemp --raw 60 --physical
run project signal sim.tsp EngineStatus EngineSpeed --control "Potentiometer 1" --start 0 --end 16000 --physical
run project signal sim.tsp EngineStatus OilTemp --raw 0x82
run project signal sim.tsp EngineStatus ThrottlePos --control "Potentiometer 2" --start 0 --end 0xFA
run project signal sim.tsp BodySwitches DoorLock --control "Switch 2" --start 0 --end 1
run project signal sim.tsp BodySwitches HeadLights --control "DIP switch 1" --start 0 --end 1
run project signal sim.tsp BodySwitches Wiper --control "Switch 1" --start Off --middle Slow --end Fast --physical
run project signal sim.tsp Diagnostics Counter --raw 7
run project signal sim.tsp Diagnostics FuelLevel --control "Potentiometer 3" --start 0 --end 0xC8 --raw 0x50
run project signal sim.tsp 0x18FEF100x GearSelect --control "DIP switch 12" --start 0 --end 15
run project signal sim.tsp VehicleSpeedFD Odometer --raw 0x12345
run project signal sim.tsp VehicleSpeedFD Speed --control "Potentiometer 4" --start 0 --end 300 --raw 80 --physical

"$torvik" userblock build "$examples/simulation.tsp" -o example.bin >/dev/null 2>&1 || fail "example user block"
"$torvik" userblock build sim.tsp -o commands.bin >/dev/null 2>&1 || fail "user block of the commands' project"
cmp -s example.bin commands.bin || fail "the commands' user block differs from the example's"

# The same from the example edits file, in one save.
run project new apply.tsp
run project apply apply.tsp "$examples/simulation_edits.json"
"$torvik" userblock build apply.tsp -o apply.bin >/dev/null 2>&1 || fail "user block of the applied project"
cmp -s example.bin apply.bin || fail "the applied user block differs from the example's"

# What show --json reports is what the example project holds (the name and paths aside).
strip() { grep -v -E '^  "(name|path)"|^      "path"'; }
"$torvik" project show --json sim.tsp | strip >commands.json
"$torvik" project show --json "$examples/simulation.tsp" | strip >example.json
cmp -s commands.json example.json || fail "show --json differs: $(diff commands.json example.json | head -5)"
grep -q '"mux_values": \[' commands.json || fail "show --json lacks the multiplexor values"

# ---- refusals: exit status 1, one line "torvik: ...", the file unchanged ----
refused() {  # refused PATTERN COMMAND...
  local pattern=$1
  shift
  cp sim.tsp before.tsp
  if "$torvik" "$@" >out 2>err </dev/null; then
    fail "not refused: $*"
  elif [[ $(wc -l <err) -ne 1 ]] || ! grep -qE -- "^torvik: .*$pattern" err; then
    fail "$* -> $(cat err) (wanted $pattern)"
  fi
  cmp -s before.tsp sim.tsp || fail "changed the file: $*"
}
refused "no message 'Nothing' in the project" project select sim.tsp Nothing --channels 1
refused "no message matches 'Eng\*X'" project select sim.tsp 'Eng*X' --channels 1
refused "has no signal 'Rpm'" project signal sim.tsp EngineStatus Rpm --raw 1
refused "raw value 0xFB does not fit signal 'ThrottlePos'" project signal sim.tsp EngineStatus ThrottlePos --raw 251
refused "'17000' is no physical value of signal 'EngineSpeed'" \
  project signal sim.tsp EngineStatus EngineSpeed --end 17000 --physical
refused "control 'Switch 2' has no middle position" project signal sim.tsp BodySwitches DoorLock --middle 1
refused "is a CAN FD message and cannot be sent on CAN 1" project select sim.tsp VehicleSpeedFD --channels 1,4
refused "CAN 4 cannot be set up for HS 500 kBd" project setup sim.tsp --channel 4 --code 2
refused "setup code 3 is none of" project setup sim.tsp --channel 3 --code 3
refused "a cycle time of 0 ms cannot be sent" project message sim.tsp EngineStatus --cycle-time 0
refused "read-only in the message editor" project message sim.tsp VehicleSpeedFD --attribute VFrameFormat=StandardCAN
refused "is no payload" project message sim.tsp EngineStatus --raw '0x01 zz'
refused "is sent on no channel" project signal sim.tsp Unused Spare --raw 1
refused "already contains database named SimDemo" project add-dbc sim.tsp simulation.dbc
refused "sim.tsp' already exists and was not replaced \(no terminal to ask on; --yes answers Yes\)" \
  project new sim.tsp
refused "stays: it has selected messages \(no terminal to ask on; --yes answers Yes\)" \
  project remove-dbc sim.tsp simulation.dbc
refused "edit 2 \(signal\): .*does not fit signal 'Counter'" project apply sim.tsp <(printf '%s' \
  '{"edits": [{"op": "setup", "channel": 3, "code": 5}, {"op": "signal", "message": "Diagnostics", "signal": "Counter", "raw": 256}]}')

# A question answered No in a new project: Diagnostics has cycle time 0 in its database.
run project new fresh.tsp --dbc simulation.dbc
cp fresh.tsp sim.tsp
refused "'Diagnostics' has cycle time zero and stays unselected" project select sim.tsp Diagnostics --channels 1
run project select sim.tsp Diagnostics --channels 1 --yes
"$torvik" project show --json sim.tsp | grep -q '"cycle_time_ms": 1000' || fail "--yes gives 1000 ms"
# On a terminal the question is asked and the typed answer counts (script gives the command a terminal).
if command -v script >/dev/null; then
  printf 'n\n' | script -qec "'$torvik' project remove-dbc sim.tsp simulation.dbc" /dev/null >tty.out 2>&1 &&
    fail "answered n on a terminal, yet removed"
  grep -q 'Would you like to also remove all messages from database SimDemo' tty.out || fail "no question: $(cat tty.out)"
  printf 'y\n' | script -qec "'$torvik' project remove-dbc sim.tsp simulation.dbc" /dev/null >tty.out 2>&1 ||
    fail "answered y on a terminal: $(cat tty.out)"
else
  run project remove-dbc sim.tsp simulation.dbc --yes
fi
"$torvik" project show --json sim.tsp | grep -q '"databases": \[\]' || fail "remove-dbc answered Yes"

exit $((failures > 0))
