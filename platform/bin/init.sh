#!/bin/sh
# Stand-in for the firmware's init.sh: records its arguments in the journal (see brim-journal).
"${0%/*}/brim-journal" init.sh "$@"
exit 0
