#!/bin/sh
# Passes when systemd verifies the user unit without a word.
#   verifysystemdunit.sh SYSTEMD-ANALYZE UNIT-FILE
analyze=$1
unit=$2

# A Type=dbus unit needs the user bus's socket unit, which only dbus-user-session installs; systemd's own
# "Unit dbus.socket not found" does not say so.
socket=$("$analyze" --user unit-paths | while IFS= read -r folder; do
    [ -e "$folder/dbus.socket" ] && echo "$folder/dbus.socket"
done)
if [ -z "$socket" ]; then
    echo "no dbus.socket among systemd's user units: install dbus-user-session (scripts/setup does)" >&2
    exit 1
fi

out=$("$analyze" --user verify "$unit" 2>&1)
status=$?
[ -z "$out" ] || printf '%s\n' "$out"
[ "$status" -eq 0 ] && [ -z "$out" ]
