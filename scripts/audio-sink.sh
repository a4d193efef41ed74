#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Gives the playback tests an audio output on a machine that has none: a
# PulseAudio server whose default sink is a null sink (nothing is heard;
# parec records what it plays from its monitor). Does nothing when
# PulseAudio is not installed or a server is already running.
set -u
command -v pulseaudio >/dev/null 2>&1 || exit 0
command -v pactl >/dev/null 2>&1 || exit 0
pactl info >/dev/null 2>&1 && exit 0
pulseaudio --start --exit-idle-time=-1 >/dev/null 2>&1 || exit 0
for _ in $(seq 50); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pactl load-module module-null-sink sink_name=vellomar_null >/dev/null 2>&1 || true
pactl set-default-sink vellomar_null >/dev/null 2>&1 || true
exit 0
