#!/usr/bin/env bash
# Starts or stops a Firebird server on 127.0.0.1:3050 for the tests.
# start: prints nothing when one already answers; stop: stops only the server
# this script started.
set -euo pipefail
pidfile=/tmp/kz-fbguard.pid
answers() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }
case "${1:-}" in
  start)
    if answers; then exit 0; fi
    mkdir -p /run/firebird3.0 && chown firebird:firebird /run/firebird3.0
    su -s /bin/sh firebird -c '/usr/sbin/fbguard -daemon -forever -pidfile /tmp/kz-fbguard.pid' \
      || su -s /bin/sh firebird -c '/usr/sbin/fbguard -daemon -forever'
    for _ in $(seq 1 100); do answers && break; sleep 0.1; done
    answers || { echo "firebird server did not start" >&2; exit 1; }
    touch /tmp/kz-fbserver.started
    ;;
  stop)
    if [ -f /tmp/kz-fbserver.started ]; then
      if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; fi
      pkill -x fbguard 2>/dev/null || true
      pkill -x firebird 2>/dev/null || true
      rm -f /tmp/kz-fbserver.started "$pidfile"
    fi
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
