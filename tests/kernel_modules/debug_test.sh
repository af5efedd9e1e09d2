#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Both modules in one VM under a kernel with checkers: turnpair's cycles and
# 50 unloads right after loading, then devpoke's dialogues with qvx_device,
# four qvx_stress processes at once and an unload while the device is held
# open; each checked as in its own tests, and vm.sh fails the test on any
# checker's report about the modules.
#   debug_test.sh <kernel folder> <cpus> <turnpair.ko> <qvx_device.ko> <devpoke> <qvx_stress>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ $# -eq 6 ] || { echo "usage: debug_test.sh <kernel> <cpus> <turnpair.ko> <qvx_device.ko> <devpoke> <qvx_stress>" >&2; exit 1; }
devpoke_test=$here/../device_client/devpoke_test.sh
unloads=50
{ "$here/turnpair_test.sh" scenario $unloads; "$devpoke_test" vm-scenario stress; } >"$work/scenario.sh"
"$here/vm.sh" "$1" "$2" "$work/scenario.sh" "$work/console" "$3" "$4" "$5" "$6"
status=0
"$here/turnpair_test.sh" check "$work/console" $unloads || status=1
"$devpoke_test" vm-check "$work/console" stress || status=1
exit $status
