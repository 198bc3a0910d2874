# Shared by the commands that boot the emulated ARM board (serve --board,
# the board stage through scripts/board, bench): boots the image of
# scripts/board-image under qemu-system-arm with its flash, keeps its
# watchdog fed, and powers it off. Everything a later command needs to find
# the board again is in its folder: qemu.pid, beat.pid, the heartbeat FIFO,
# console.log and flash.img.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/weblib.sh"

board_image_dir=$top/build/emu/image
# The board's LAN: its own address on the emulator's network for eth0
# (the forwards of the scripts that source this name it).
# shellcheck disable=SC2034
board_lan=192.168.1.1
# The flash's size: the board's ext2 with its two settings slots.
board_flash_size=4M
board_dir=

# Builds the image when an input changed, with what it needs. A board that
# runs only here, on loopback, may have a kernel without its security
# updates when their list cannot be had: the builder says so.
board_image() {
  need_pkgs qemu-system-arm curl
  "$top/scripts/board-image" --allow-unpatched-kernel
}

# Whether process PID runs: a zombie that nobody reaps does not.
running() {
  /usr/bin/python3 "$top/scripts/pylib/nbtest.py" alive "$1"
}

# The pid kept in the board's folder under NAME, or nothing.
board_pid_of() { cat "$board_dir/$1.pid" 2>/dev/null || true; }

# Boots the board in the background: board_boot DIR FORWARDS [KERNEL_ARGS]
# FORWARDS are the LAN's hostfwd rules (each from 127.0.0.1 only); the
# console goes to DIR/console.log. The flash is DIR/flash.img, made empty
# (factory state) when missing. Extra initramfs archives in
# DIR/overlay.cpio.gz are unpacked over the image's. The heartbeat lasts
# while the process board_owner names (this script unless set) and the
# emulator both run, so a host side that went away, however it went, leaves
# the board's watchdog to power it off.
board_boot() {
  board_dir=$1
  local forwards=$2 args=${3:-} initrd=$board_image_dir/initramfs.gz owner=${board_owner:-$$} qemu
  mkdir -p "$board_dir"
  rm -f "$board_dir/console.log" "$board_dir/heartbeat" "$board_dir/qemu.pid" "$board_dir/beat.pid"
  [ -f "$board_dir/flash.img" ] || truncate -s "$board_flash_size" "$board_dir/flash.img"
  if [ -f "$board_dir/overlay.cpio.gz" ]; then
    cat "$initrd" "$board_dir/overlay.cpio.gz" >"$board_dir/initramfs.gz"
    initrd=$board_dir/initramfs.gz
  fi
  mkfifo -m 600 "$board_dir/heartbeat"
  # Both ports are the emulator's user networking with restrict=on: the board
  # reaches nothing outside it, and only the forwarded loopback ports reach in.
  # Each device sits on its own virtio-mmio bus, so eth0 is the LAN, eth1 the
  # WAN and vda the flash at every boot. A session of its own, and files for
  # every stream, keep it apart from the terminal or test runner that started it.
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
    -drive "file=$board_dir/flash.img,format=raw,if=none,id=flash" \
    -device virtio-blk-device,drive=flash,bus=virtio-mmio-bus.3 \
    <"$board_dir/heartbeat" >"$board_dir/qemu.log" 2>&1 &
  qemu=$!
  echo "$qemu" >"$board_dir/qemu.pid"
  setsid "$top/scripts/board" heartbeat "$owner" "$qemu" >"$board_dir/heartbeat" 2>/dev/null </dev/null &
  echo $! >"$board_dir/beat.pid"
}

# Writes a line to the board's watchdog every 2 seconds while both
# processes run: board_heartbeat OWNER QEMU (standard output is the FIFO).
board_heartbeat() {
  while running "$1" && running "$2"; do
    echo beat || return 0
    sleep 2
  done
}

# Whether the board is still running.
board_up() {
  local pid
  pid=$(board_pid_of qemu)
  [ -n "$pid" ] && running "$pid"
}

# Waits up to SECONDS for the board's web server on 127.0.0.1:PORT:
# board_wait PORT SECONDS. Says why when it does not answer. Any answer
# counts, a 401 for the login too.
board_wait() {
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    board_up || break
    curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$1/images/wait.gif" && return 0
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

# The login the board printed on its console at this boot: "admin:PASSWORD".
board_login() {
  sed -n 's/^board: login \([a-z]*\), password \([a-z0-9]*\).*/\1:\2/p' "$board_dir/console.log" | tail -n 1
}

# Lets the board go as a host that died would: no more heartbeat, the
# port closed. Its watchdog should power it off.
board_hang_up() {
  local beat
  beat=$(board_pid_of beat)
  [ -z "$beat" ] || kill "$beat" 2>/dev/null || true
  rm -f "$board_dir/beat.pid"
}

# Powers the board off: asks its watchdog, and ends the emulator after 20 s.
board_off() {
  [ -n "$board_dir" ] || return 0
  local qemu deadline
  qemu=$(board_pid_of qemu)
  if board_up; then
    # The emulator holds the FIFO's other end, so this does not block.
    echo poweroff | timeout 5 tee "$board_dir/heartbeat" >/dev/null 2>&1 || true
    deadline=$((SECONDS + 20))
    while board_up && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    board_up && kill "$qemu" 2>/dev/null
  fi
  board_hang_up
  rm -f "$board_dir/qemu.pid"
}

# Cuts the board's power: the emulator ends at once, as a board whose plug
# is pulled, with whatever its flash holds.
board_cut() {
  local qemu
  qemu=$(board_pid_of qemu)
  [ -z "$qemu" ] || kill -KILL "$qemu" 2>/dev/null || true
  board_hang_up
  rm -f "$board_dir/qemu.pid"
}
