#!/usr/bin/env bash
# A stand-in objdump for the checks' self-tests: the output of the real one ($REAL_OBJDUMP)
# passed through the sed program in $PLANT, so a test can plant one fault at a time.
set -o pipefail
"${REAL_OBJDUMP:?}" "$@" | sed -e "${PLANT:-}"
