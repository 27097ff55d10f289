#!/usr/bin/env bash
# morva-cli on the kernel's own serial drivers (16550 UART, FTDI USB adapter) in a QEMU guest.
# The host side is tools/vm_test.py (Debian's python3, its standard library only), the guest
# side tools/vm/; `bash tools/vm-test.sh --help` says more.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v python3 >/dev/null || bash tools/deps.sh python3 >&2
exec python3 tools/vm_test.py "$@"
