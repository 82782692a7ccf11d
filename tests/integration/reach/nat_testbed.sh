#!/usr/bin/env bash
# The reach test-bed: a host and a client, each behind a NAT router of its own, an "internet"
# between them with a real STUN server (coturn) and a real WebDAV server (rclone, behind nginx
# for throttling), all in network namespaces. The client knocks through the record store and
# must watch frames over QUIC, or fail clearly where no hole can be punched.
#
#   nat_testbed.sh HOST_BIN CLIENT_BIN SCENARIO
#   SCENARIO: connect HOSTNAT CLIENTNAT STORE | symmetric | throttled | wrong-password
#   NAT: full (endpoint-independent) | cone (port-restricted) | symmetric; STORE: folder | webdav
set -euo pipefail
if [ "$(id -u)" -ne 0 ] || ! unshare --net true 2>/dev/null; then
  echo "nat_testbed: needs root and network namespaces: not run"
  exit 77
fi
for tool in turnserver rclone nginx iptables Xvfb xclock; do
  command -v "$tool" >/dev/null || { echo "nat_testbed: $tool is missing (scripts/install-deps): not run"; exit 77; }
done
if [ -z "${NAT_TESTBED_INSIDE:-}" ]; then
  # A private /run: namespace names and daemons' files collide with nothing else.
  export NAT_TESTBED_INSIDE=1
  exec unshare --mount --propagation private -- bash -c 'mount -t tmpfs tmpfs /run && exec "$0" "$@"' "$0" "$@"
fi

host_bin=$1 client_bin=$2 scenario=$3
shift 3
work=$(mktemp -d /tmp/nat-testbed.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for ns in client crouter host hrouter inet; do ip netns del "$ns" 2>/dev/null || true; done
  if [ -n "${KEEP_TESTBED:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log; do echo "--- $log"; tail -n 25 "$log"; done
  exit 1
}
in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }
background() { local ns=$1 log=$2; shift 2; ip netns exec "$ns" "$@" >"$work/$log" 2>&1 & pids+=($!); }

# inet: 203.0.113.1 towards the host's router, 198.51.100.1 towards the client's.
for ns in inet hrouter host crouter client; do ip netns add "$ns"; in_ns "$ns" ip link set lo up; done
link() {  # link NS_A IF_A ADDR_A NS_B IF_B ADDR_B
  ip link add "$2" netns "$1" type veth peer name "$5" netns "$4"
  in_ns "$1" ip addr add "$3" dev "$2"; in_ns "$1" ip link set "$2" up
  in_ns "$4" ip addr add "$6" dev "$5"; in_ns "$4" ip link set "$5" up
}
link inet to-h 203.0.113.1/24 hrouter wan 203.0.113.2/24
link inet to-c 198.51.100.1/24 crouter wan 198.51.100.2/24
link hrouter lan 10.1.0.1/24 host eth0 10.1.0.2/24
link crouter lan 10.2.0.1/24 client eth0 10.2.0.2/24
in_ns host ip route add default via 10.1.0.1
in_ns client ip route add default via 10.2.0.1
in_ns hrouter ip route add default via 203.0.113.1
in_ns crouter ip route add default via 198.51.100.1
for ns in inet hrouter crouter; do in_ns "$ns" sysctl -qw net.ipv4.ip_forward=1; done

nat() {  # nat ROUTER LAN_HOST FLAVOUR
  local r=$1 inside=$2
  case $3 in
    full)
      in_ns "$r" iptables -t nat -A POSTROUTING -o wan -j MASQUERADE
      in_ns "$r" iptables -t nat -A PREROUTING -i wan -p udp -j DNAT --to-destination "$inside" ;;
    cone|symmetric)
      if [ "$3" = cone ]; then
        in_ns "$r" iptables -t nat -A POSTROUTING -o wan -j MASQUERADE
      else
        in_ns "$r" iptables -t nat -A POSTROUTING -o wan -j MASQUERADE --random-fully
      fi
      # Unsolicited datagrams stop at the router instead of leaving a conntrack entry behind.
      in_ns "$r" iptables -A INPUT -i wan -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT
      in_ns "$r" iptables -A INPUT -i wan -j DROP ;;
    *) fail "unknown NAT $3" ;;
  esac
}

# The outside services.
background inet stun.log turnserver -c /dev/null -S -L 203.0.113.1 -p 3478 --no-cli --no-tls --no-dtls \
  --log-file stdout --simple-log --pidfile "$work/turn.pid"
mkdir -p "$work/dav" "$work/folder"
background inet dav.log rclone serve webdav "$work/dav" --addr 203.0.113.1:8080 --user vistaro --pass right-one \
  --config /dev/null --dir-cache-time 0s
cat >"$work/nginx.conf" <<EOF
user root;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events {}
http {
  access_log $work/access.log;
  log_format times '\$msec \$request_method \$uri \$status';
  client_body_temp_path $work/nginx-body;
  proxy_temp_path $work/nginx-proxy;
  server {
    listen 203.0.113.1:8081;
    access_log $work/access.log times;
    location ~ ^/knock- {
      if (-f $work/throttle) { add_header Retry-After 7 always; return 429; }
      proxy_pass http://203.0.113.1:8080;
    }
    location / { proxy_pass http://203.0.113.1:8080; }
  }
}
EOF
background inet nginx.log nginx -c "$work/nginx.conf" -g 'daemon off;'

direct_id=0123456789abcdef0123456789abcdef
pin=246810
printf 'vistaro:right-one\n' >"$work/account"
printf 'vistaro:wrong-one\n' >"$work/wrong-account"
chmod 600 "$work/account" "$work/wrong-account"

# The host's first STUN server is silent: the second is asked after 2 s.
start_host() {  # start_host STORE [CREDENTIALS]
  mkdir -p "$work/config/vistaro-host"
  local kind=directory location=$work/folder
  if [ "$1" = webdav ]; then kind=webdav location=http://203.0.113.1:8081/; fi
  cat >"$work/config/vistaro-host/settings.json" <<EOF
{"pin": "$pin", "directID": "$direct_id", "recordStore": "$kind", "recordLocation": "$location",
 "recordCredentialsFile": "${2:-$work/account}", "stunServers": ["203.0.113.1:3479", "203.0.113.1:3478"]}
EOF
  background host xvfb.log Xvfb :71 -screen 0 640x480x24 -noreset -nolisten tcp
  sleep 0.5
  background host clock.log env DISPLAY=:71 xclock -update 1  # a desktop that changes: a frame a second
  background host host.log env DISPLAY=:71 XDG_CONFIG_HOME="$work/config" LC_ALL=C "$host_bin" --headless
}
wait_for() {  # wait_for FILE TEXT SECONDS
  for _ in $(seq $(( $3 * 10 ))); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
run_client() {  # run_client STORE SECONDS; sets client_status
  local store=$work/folder credentials=()
  if [ "$1" = webdav ]; then store=http://203.0.113.1:8081/ credentials=(--store-credentials "$work/account"); fi
  set +e
  in_ns client timeout "$2" "$client_bin" --direct "$direct_id" --store "$store" "${credentials[@]}" \
    --stun 203.0.113.1:3478 --pin "$pin" watch --frames 3 >"$work/client.log" 2>&1
  client_status=$?
  set -e
}
ready="モバイル回線：接続できます"

case $scenario in
  connect)
    host_nat=$1 client_nat=$2 store=$3
    nat hrouter 10.1.0.2 "$host_nat"; nat crouter 10.2.0.2 "$client_nat"
    start_host "$store"
    wait_for "$work/host.log" "$ready" 10 || fail "the host never said it can be reached"
    run_client "$store" 40
    [ "$client_status" -eq 0 ] || fail "client ended with $client_status"
    [ "$(grep -c '^frame seq=' "$work/client.log")" -ge 3 ] || fail "fewer than 3 frames"
    grep -q "over QUIC" "$work/client.log" || fail "not over QUIC"
    grep -q "answered with 203.0.113.2:" "$work/host.log" || fail "no answer with the router's address"
    echo "PASS: host $host_nat, client $client_nat, $store: $(grep -c '^frame seq=' "$work/client.log") frames" ;;
  symmetric)
    nat hrouter 10.1.0.2 cone; nat crouter 10.2.0.2 symmetric
    start_host folder
    wait_for "$work/host.log" "$ready" 10 || fail "the host never said it can be reached"
    run_client folder 40
    [ "$client_status" -eq 3 ] || fail "client ended with $client_status, not 3 (unreachable)"
    grep -q "symmetric NAT" "$work/client.log" || fail "no clear reason"
    echo "PASS: symmetric client NAT fails clearly: $(grep 'symmetric' "$work/client.log")" ;;
  throttled)
    nat hrouter 10.1.0.2 cone; nat crouter 10.2.0.2 cone
    start_host webdav
    wait_for "$work/host.log" "$ready" 10 || fail "the host never said it can be reached"
    touch "$work/throttle"
    wait_for "$work/access.log" "knock-$direct_id.json 429" 5 || fail "no throttled poll"
    rm "$work/throttle"
    wait_for "$work/host.log" "knock poll throttled for 7.000000 s" 2 || fail "the host did not wait as asked"
    sleep 9
    # The first poll after the last 429 came no sooner than Retry-After asked.
    gap=$(awk -v id="/knock-$direct_id.json" '$3 == id && $4 == 429 { last = $1 } $3 == id && $4 != 429 && last && !next_ { next_ = $1 }
              END { printf "%.1f", next_ - last }' "$work/access.log")
    awk -v g="$gap" 'BEGIN { exit !(g >= 6.9 && g < 9) }' || fail "next poll $gap s after the 429"
    echo "PASS: 429 with Retry-After 7 delayed the next poll by $gap s" ;;
  wrong-password)
    nat hrouter 10.1.0.2 cone
    start_host webdav "$work/wrong-account"
    wait_for "$work/host.log" "モバイル回線：iCloudにサインインすると使えます" 10 || fail "no account text"
    grep -q "HTTP 401" "$work/host.log" || fail "the journal does not say why"
    ! grep -q "wrong-one" "$work/host.log" || fail "the password reached the log"
    echo "PASS: wrong WebDAV password shows the account text" ;;
  *) fail "unknown scenario $scenario" ;;
esac
