# Shared by the commands that boot the emulated ARM board (serve --board,
# test-board, bench): boots the image of scripts/board-image under
# qemu-system-arm, keeps its watchdog fed, and powers it off.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/weblib.sh"

board_image_dir=$top/build/emu/image
# The board's LAN: its own address on the emulator's network for eth0.
board_lan=192.168.1.1
board_pid= board_beat= board_hb= board_dir=

# Builds the image when an input changed, with what it needs.
board_image() {
  need_pkgs qemu-system-arm curl
  "$top/scripts/board-image"
}

# Boots the board in the background: board_boot DIR FORWARDS [KERNEL_ARGS]
# FORWARDS are the LAN's hostfwd rules (each from 127.0.0.1 only); the
# console goes to DIR/console.log. Extra initramfs archives in DIR/overlay.cpio.gz
# are unpacked over the image's.
board_boot() {
  board_dir=$1
  local forwards=$2 args=${3:-} initrd=$board_image_dir/initramfs.gz
  mkdir -p "$board_dir"
  rm -f "$board_dir/console.log" "$board_dir/heartbeat"
  if [ -f "$board_dir/overlay.cpio.gz" ]; then
    cat "$initrd" "$board_dir/overlay.cpio.gz" >"$board_dir/initramfs.gz"
    initrd=$board_dir/initramfs.gz
  fi
  mkfifo -m 600 "$board_dir/heartbeat"
  # Both ports are the emulator's user networking with restrict=on: the board
  # reaches nothing outside it, and only the forwarded loopback ports reach in.
  # Each NIC sits on its own virtio-mmio bus, so eth0 is the LAN and eth1 the
  # WAN at every boot. A session of its own keeps a terminal's Ctrl-C for this
  # script, which powers the board off cleanly.
  setsid qemu-system-arm -M virt -m 256 -nodefaults -display none -no-reboot \
    -kernel "$board_image_dir/vmlinuz" -initrd "$initrd" \
    -append "console=ttyAMA0 quiet panic=-1 $args" \
    -serial "file:$board_dir/console.log" \
    -netdev "user,id=lan,restrict=on,net=192.168.1.0/24,$forwards" \
    -device virtio-net-device,netdev=lan,bus=virtio-mmio-bus.0,mac=52:54:00:4e:42:00 \
    -netdev user,id=wan,restrict=on \
    -device virtio-net-device,netdev=wan,bus=virtio-mmio-bus.1,mac=52:54:00:4e:42:01 \
    -device virtio-serial-device,bus=virtio-mmio-bus.2 \
    -chardev stdio,id=heartbeat,signal=off -device virtserialport,chardev=heartbeat,name=heartbeat \
    <"$board_dir/heartbeat" >"$board_dir/qemu.log" 2>&1 &
  board_pid=$!
  exec {board_hb}>"$board_dir/heartbeat"
  # The heartbeat stops when this script is gone, however it went; the
  # board's watchdog then powers it off.
  (
    while kill -0 $$ && kill -0 "$board_pid"; do
      echo beat
      sleep 2
    done
  ) 1>&"$board_hb" 2>/dev/null &
  board_beat=$!
}

# Whether the board is still running.
board_up() { [ -n "$board_pid" ] && kill -0 "$board_pid" 2>/dev/null; }

# Waits up to SECONDS for the board's web server on 127.0.0.1:PORT:
# board_wait PORT SECONDS. Says why when it does not answer.
board_wait() {
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    board_up || break
    curl -sf -o /dev/null --max-time 2 "http://127.0.0.1:$1/cgi-bin/northbeam" && return 0
    sleep 0.5
  done
  if board_up; then
    echo "the board did not answer on 127.0.0.1:$1 within $2 s" >&2
  else
    echo "the board stopped before it answered: $(cat "$board_dir/qemu.log" 2>/dev/null)" >&2
  fi
  echo "console: $board_dir/console.log" >&2
  tail -n 20 "$board_dir/console.log" >&2 2>/dev/null || true
  return 1
}

# Lets the board go as a host that died would: no more heartbeat, the
# port closed. Its watchdog should power it off.
board_hang_up() {
  kill "$board_beat" 2>/dev/null || true
  wait "$board_beat" 2>/dev/null || true
  exec {board_hb}>&-
  board_beat= board_hb=
}

# Powers the board off: asks its watchdog, and ends the emulator after 20 s.
board_off() {
  [ -n "$board_pid" ] || return 0
  if board_up; then
    [ -n "$board_hb" ] && { (echo poweroff 1>&"$board_hb") 2>/dev/null || true; }
    local deadline=$((SECONDS + 20))
    while board_up && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    board_up && kill "$board_pid" 2>/dev/null
  fi
  wait "$board_pid" 2>/dev/null || true
  [ -z "$board_hb" ] || board_hang_up
  board_pid=
}
