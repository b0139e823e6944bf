#!/usr/bin/env bash
# Drives the terminal configuration form in a real terminal (tmux): change a
# step size and the feed, confirm, and check the profile; then a cancelled
# run must leave the values as they were.
set -euo pipefail
form=$1
work=$(mktemp -d)
base="km4r_form_$$"
socket=""
sockets=()
profile="$work/profile.xml"
session=form

cleanup() {
  local s
  for s in "${sockets[@]}"; do
    tmux -L "$s" kill-server >/dev/null 2>&1 || true
    rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$s"
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "---- screen" >&2
  tmux -L "$socket" capture-pane -p -t "$session" -S -200 >&2 || true
  echo "---- profile" >&2
  cat "$profile" >&2 || true
  exit 1
}

# Waits until the screen shows the text (fixed string), at most 10 s.
wait_for() {
  local i
  for ((i = 0; i < 100; i++)); do
    if tmux -L "$socket" capture-pane -p -t "$session" -S -200 | grep -qF -- "$1"; then
      return 0
    fi
    sleep 0.1
  done
  fail "timed out waiting for: $1"
}

# Each run gets a server of its own: reusing a socket races with the old
# server's exit.
start_form() {
  [[ -n "$socket" ]] && tmux -L "$socket" kill-server >/dev/null 2>&1 || true
  socket="${base}_$1"
  sockets+=("$socket")
  tmux -L "$socket" -f /dev/null new-session -d -s "$session" -x 160 -y 50 \
    "'$form' '$profile'; echo form-exited; sleep 30" || fail "tmux did not start"
  wait_for "Control number to change"
}

type_line() {
  tmux -L "$socket" send-keys -t "$session" -l -- "$1"
  tmux -L "$socket" send-keys -t "$session" Enter
}

key_value() {
  sed -n "s:.*<$1>\([^<]*\)</$1>.*:\1:p" "$profile"
}

# Run 1: the form shows its texts and defaults; pick step size 2 = NONE and
# feed 250, confirm.
start_form 1
wait_for "Quorvix KM4-R Pendant Configuration"
wait_for "Step Size Selection. Set NONE to Skip."
wait_for "[ Screen 1 (Program Run screen) ]"
wait_for "Use A Axis in C%-A Mode (v2 only)."
type_line "2"
wait_for "Item number:"
type_line "0"
type_line "4"
wait_for "New text"
type_line "250"
wait_for "[250]"
type_line "o"
wait_for "config closed"
[[ "$(key_value StepSize2)" == 0 ]] || fail "StepSize2 is '$(key_value StepSize2)'"
[[ "$(key_value StepJogRate)" == 250 ]] || fail "StepJogRate is '$(key_value StepJogRate)'"
[[ "$(key_value StepSize1)" == 2 ]] || fail "StepSize1 is '$(key_value StepSize1)'"

# Run 2: a bad feed is refused, then the form is cancelled: nothing changes.
start_form 2
wait_for "[250]"
type_line "4 abc"
type_line "1 4"
type_line "o"
wait_for "Please enter an integer."
type_line "c"
wait_for "config closed"
[[ "$(key_value StepJogRate)" == 250 ]] || fail "StepJogRate changed to '$(key_value StepJogRate)'"
[[ "$(key_value StepSize1)" == 2 ]] || fail "StepSize1 changed to '$(key_value StepSize1)'"
[[ "$(key_value StepSize2)" == 0 ]] || fail "StepSize2 changed to '$(key_value StepSize2)'"
echo "terminal form: 2 runs passed"
