#!/usr/bin/env bash
# Runs a command in its own network and mount namespace: loopback up and
# multicast-capable, a private /run. Listeners and daemons a test starts there
# reach nothing outside and collide with nothing on the machine.
set -euo pipefail
exec unshare --net --mount --fork -- bash -c '
  set -e
  ip link set lo up
  ip link set lo multicast on
  mount -t tmpfs tmpfs /run
  exec "$@"' in_private_network "$@"
