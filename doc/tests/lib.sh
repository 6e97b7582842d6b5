# shellcheck shell=bash
# The shell tests source this path; the library itself is tools/lib.sh, which
# the tools share.
# shellcheck source=../../tools/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib.sh"
