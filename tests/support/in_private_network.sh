#!/usr/bin/env bash
# Runs a command in its own network and mount namespace: loopback up and
# multicast-capable, a private /run and /tmp. Listeners, daemons and X servers a
# test starts there reach nothing outside and collide with nothing on the machine
# (X display numbers and sockets live in /tmp).
set -euo pipefail
exec unshare --net --mount --fork -- bash -c '
  set -e
  ip link set lo up
  ip link set lo multicast on
  # A second loopback address that is its own source: a "different machine" for the hub.
  ip addr add 127.0.0.2/32 dev lo
  mount -t tmpfs tmpfs /run
  mount -t tmpfs tmpfs /tmp
  exec "$@"' in_private_network "$@"
