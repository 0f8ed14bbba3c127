#!/bin/sh
# A stand-in for `net view`: records its arguments as net_prueba.sh does, then answers
# with the file net.vista of the current directory, whose first line is the exit code
# and the rest what it prints. Without that file it never answers; its process id is
# then in net.pid.
{ printf '%s\0' "$#"; printf '%s\0' "$@"; } >> net.registro
if [ ! -f net.vista ]; then
    echo $$ > net.pid
    exec sleep 600
fi
code=$(head -n 1 net.vista)
tail -n +2 net.vista
exit "$code"
