#!/usr/bin/env bash
# Runs a command in its own network and mount namespace: loopback up and
# multicast-capable, a private /run and X socket directory. Listeners, daemons and
# X servers a test starts there reach nothing outside and collide with nothing on
# the machine: display numbers stay shared (their lock files), but a server of
# another test that takes over a number cannot be reached from here.
set -euo pipefail
exec unshare --net --mount --fork -- bash -c '
  set -e
  ip link set lo up
  ip link set lo multicast on
  # A second loopback address that is its own source: a "different machine" for the hub.
  ip addr add 127.0.0.2/32 dev lo
  mount -t tmpfs tmpfs /run
  mkdir -p /tmp/.X11-unix
  mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix
  exec "$@"' in_private_network "$@"
