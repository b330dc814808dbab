#!/usr/bin/env bash
# Builds the host program and runs it on a copy of the bundled Windows 95
# sample registry: its settings (--show), the run, what changed in the file,
# and the settings again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh host

cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" --target regswitch >/dev/null

work=$(mktemp -d)
cp samples/win95-system.reg "$work/system.reg"
switches=${*:-/SSP:1 /DDC:1 /CDP:0 /DMA:1 /DIN:1 /ACS}
echo "\$ regswitch --registry $work/system.reg --show"
build/host/regswitch --registry "$work/system.reg" --show
echo
echo "\$ regswitch --registry $work/system.reg $switches"
# shellcheck disable=SC2086
build/host/regswitch --registry "$work/system.reg" $switches
echo "exit status $?; what changed:"
diff -u --label before --label after samples/win95-system.reg "$work/system.reg" | tr -d '\r' || true
echo
echo "\$ regswitch --registry $work/system.reg --show"
build/host/regswitch --registry "$work/system.reg" --show
