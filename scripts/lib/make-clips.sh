#!/usr/bin/env bash
# Renders the test clips: a moving test pattern with a visible frame counter, encoded by x264
# as Annex B with access unit delimiters, SPS/PPS before every key frame (x264 repeats them in
# band by default when it writes a raw stream), no B-frames, an IDR every 30 pictures, 60
# pictures at 30 fps.
#   scripts/lib/make-clips.sh OUTDIR [GENERATOR]
# GENERATOR is the clip_pattern program; without it one is compiled from tools/clip_pattern.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUTDIR [GENERATOR]" >&2
  exit 2
fi
outdir="$1"
generator="${2:-}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
x264="${X264:-x264}"
command -v "$x264" >/dev/null || { echo "make-clips: x264 not found (scripts/setup.sh installs it)" >&2; exit 1; }

mkdir -p "$outdir"
work="$(mktemp -d "${TMPDIR:-/tmp}/make-clips.XXXXXX")"
trap 'rm -rf "$work"' EXIT

if [ -z "$generator" ]; then
  generator="$work/clip_pattern"
  "${CXX:-c++}" -std=c++20 -O2 -I"$root" \
    "$root/tools/clip_pattern/clip_pattern_main.cpp" \
    "$root/tools/clip_pattern/test_pattern.cpp" \
    "$root/tools/clip_pattern/frame_counter_code.cpp" -o "$generator"
fi

frames=60
for size in 1920x1080 1280x720 1080x1920; do
  width="${size%x*}"
  height="${size#*x}"
  # Written beside the target and moved into place, so a failed run leaves no partial clip.
  tmp="$work/clip_$size.264"
  "$generator" "$width" "$height" "$frames" |
    "$x264" --quiet --demuxer raw --input-csp i420 --input-res "$size" --fps 30 \
      --preset veryfast --tune zerolatency --threads 1 --crf 20 \
      --bframes 0 --keyint 30 --min-keyint 30 --no-scenecut \
      --aud --frames "$frames" -o "$tmp" - 2>"$work/x264.log" ||
    { cat "$work/x264.log" >&2; echo "make-clips: encoding $size failed" >&2; exit 1; }
  mv -f "$tmp" "$outdir/clip_$size.264"
done
echo "make-clips: wrote $(ls "$outdir"/clip_*.264 | wc -l) clips to $outdir"
