# Sourced by the tool scripts: a long command run with its output in a log file, and a line every
# 30 s that names it and the log, so that a quiet step never looks like a hang.
# shellcheck shell=bash

# ticker NAME LOG: prints "NAME: still running after N s (log: LOG)" to standard error every 30 s
# until killed. The sleep gets no standard streams, so that a reader of a pipe that the ticker's
# output goes to does not wait for the last sleep after the ticker is gone.
ticker() {
  local name=$1 logfile=$2 began=$SECONDS
  while sleep 30 </dev/null >/dev/null 2>&1; do
    echo "... $name: still running after $((SECONDS - began)) s${logfile:+ (log: $logfile)}" >&2
  done
}

# logged NAME LOG COMMAND...: runs COMMAND with standard output and error appended to LOG, with a
# ticker line every 30 s; returns the command's status.
logged() {
  local name=$1 logfile=$2 status=0 tick
  shift 2
  ticker "$name" "$logfile" &
  tick=$!
  "$@" >>"$logfile" 2>&1 </dev/null || status=$?
  kill "$tick" 2>/dev/null
  wait "$tick" 2>/dev/null
  return $status
}
