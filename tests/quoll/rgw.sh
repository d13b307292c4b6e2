#!/usr/bin/env bash
# Starts and stops a one-node Ceph cluster with a RADOS Gateway on loopback,
# for the quoll:// tests and benchmarks.
#
#   tests/quoll/rgw.sh start   prints the endpoint once the gateway answers
#                              (http; https on port 7443 with the
#                              self-signed certificate in $RGW_DIR/tls.pem)
#   tests/quoll/rgw.sh stop    stops every daemon and removes the data; the
#                              logs are kept when OVK_RGW_KEEP_LOGS=1
#   tests/quoll/rgw.sh status  exit 0 when the gateway answers
#
# Both commands are idempotent. State lives in $OVK_RGW_DIR (default
# /tmp/ovk-rgw); the daemons are found again through their pid files, so a
# second start reuses a running cluster. The access keys are fixed test keys;
# they grant access to this throwaway cluster only.
set -euo pipefail
# Sanitizer runs preload their runtimes into the test process; Ceph's
# daemons are not ours to check and must not inherit them.
unset LD_PRELOAD ASAN_OPTIONS UBSAN_OPTIONS

RGW_DIR=${OVK_RGW_DIR:-/tmp/ovk-rgw}
RGW_PORT=${OVK_RGW_PORT:-7480}
RGW_TLS_PORT=${OVK_RGW_TLS_PORT:-7443}
MON_ADDR=127.0.0.1:6789
ACCESS_KEY=${OVK_RGW_ACCESS_KEY:-OVKTESTACCESSKEY0001}
SECRET_KEY=${OVK_RGW_SECRET_KEY:-ovkTestSecretKey/0001+forLoopbackOnly}
CONF=$RGW_DIR/ceph.conf
ENDPOINT=http://127.0.0.1:$RGW_PORT

ceph_cmd() { ceph -c "$CONF" --connect-timeout 10 "$@"; }

gateway_answers() {
  curl -s -o /dev/null --max-time 2 "$ENDPOINT/" 2>/dev/null
}

running() {
  local name=$1
  [[ -f $RGW_DIR/$name.pid ]] && kill -0 "$(cat "$RGW_DIR/$name.pid")" 2>/dev/null
}

write_conf() {
  cat >"$CONF" <<EOF
[global]
fsid = $(cat "$RGW_DIR/fsid")
mon host = v1:$MON_ADDR
mon initial members = a
ms bind msgr2 = false
auth cluster required = none
auth service required = none
auth client required = none
auth allow insecure global id reclaim = true
osd pool default size = 1
osd pool default min size = 1
osd pool default pg num = 8
osd pool default pgp num = 8
mon allow pool size one = true
mon allow pool delete = true
mon warn on pool no redundancy = false
osd crush chooseleaf type = 0
osd objectstore = memstore
memstore device bytes = 4294967296
osd max object size = 134217728
run dir = $RGW_DIR/run
log file = $RGW_DIR/log/\$name.log
pid file = $RGW_DIR/\$name.pid
admin socket = $RGW_DIR/run/\$name.asok

[mon.a]
mon data = $RGW_DIR/mon
public addr = $MON_ADDR

[osd.0]
osd data = $RGW_DIR/osd
osd journal size = 0

[mgr.x]
mgr data = $RGW_DIR/mgr

[client.rgw]
rgw frontends = beast endpoint=127.0.0.1:$RGW_PORT ssl_endpoint=127.0.0.1:$RGW_TLS_PORT ssl_certificate=$RGW_DIR/tls.pem ssl_private_key=$RGW_DIR/tls.key
rgw dns name = localhost
rgw enable usage log = false
rgw thread pool size = 64
# Deleted objects free the memory store soon, not after the default two
# hours, so benchmark rounds do not fill it.
rgw gc obj min wait = 1
rgw gc processor period = 5
rgw gc processor max time = 5
log to stderr = false
EOF
}

start() {
  if gateway_answers; then
    echo "$ENDPOINT"
    return 0
  fi
  stop_daemons
  rm -rf "$RGW_DIR"
  mkdir -p "$RGW_DIR"/{mon,osd,mgr,run,log}
  uuidgen >"$RGW_DIR/fsid"
  write_conf
  # A self-signed certificate for the https endpoint, which the tests trust
  # through fs.quoll.tls.caBundle (and the system does not).
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
    -keyout "$RGW_DIR/tls.key" -out "$RGW_DIR/tls.pem" >>"$RGW_DIR/log/setup.log" 2>&1

  ceph-mon -c "$CONF" --mkfs -i a --fsid "$(cat "$RGW_DIR/fsid")" \
    >>"$RGW_DIR/log/setup.log" 2>&1
  ceph-mon -c "$CONF" -i a
  for _ in $(seq 50); do
    ceph_cmd -s >/dev/null 2>&1 && break
    sleep 0.2
  done
  ceph_cmd mgr module disable dashboard >/dev/null 2>&1 || true
  ceph-mgr -c "$CONF" -i x

  local uuid
  uuid=$(uuidgen)
  ceph_cmd osd create "$uuid" >>"$RGW_DIR/log/setup.log"
  ceph-osd -c "$CONF" -i 0 --mkfs --osd-uuid "$uuid" >>"$RGW_DIR/log/setup.log" 2>&1
  # A freshly made OSD sometimes reaches the monitor before it knows the
  # cluster's fsid and exits ("wrong fsid"); a second start succeeds.
  local attempt
  for attempt in 1 2 3 4 5; do
    ceph-osd -c "$CONF" -i 0 >>"$RGW_DIR/log/setup.log" 2>&1 && break
    [[ $attempt == 5 ]] && return 1
    sleep 1
  done
  for _ in $(seq 100); do
    ceph_cmd osd stat 2>/dev/null | grep -q "1 up" && break
    sleep 0.2
  done

  radosgw -c "$CONF" -n client.rgw
  for _ in $(seq 150); do
    gateway_answers && break
    sleep 0.2
  done
  if ! gateway_answers; then
    echo "rgw.sh: the gateway did not answer on $ENDPOINT; logs in $RGW_DIR/log" >&2
    return 1
  fi
  radosgw-admin -c "$CONF" -n client.rgw user create --uid=ovk-test \
    --display-name="pyorvik tests" --access-key="$ACCESS_KEY" \
    --secret-key="$SECRET_KEY" >>"$RGW_DIR/log/setup.log" 2>&1
  echo "$ENDPOINT"
}

stop_daemons() {
  local name pid
  for name in client.rgw mgr.x osd.0 mon.a; do
    if running "$name"; then
      pid=$(cat "$RGW_DIR/$name.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -9 "$pid" 2>/dev/null || true
    fi
  done
}

stop() {
  [[ -d $RGW_DIR ]] || return 0
  stop_daemons
  if [[ ${OVK_RGW_KEEP_LOGS:-0} == 1 ]]; then
    find "$RGW_DIR" -mindepth 1 -maxdepth 1 ! -name log -exec rm -rf {} +
    echo "rgw.sh: logs kept in $RGW_DIR/log" >&2
  else
    rm -rf "$RGW_DIR"
  fi
}

case ${1:-} in
  start) start ;;
  stop) stop ;;
  status) gateway_answers ;;
  *)
    echo "usage: $0 start|stop|status" >&2
    exit 2
    ;;
esac
