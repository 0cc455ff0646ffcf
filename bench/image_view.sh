#!/usr/bin/env bash
# The image window's frame times in a 1920 x 1080 window under Xvfb with Mesa's software GL.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
program="$build/bin/image_view_frames"
[ -x "$program" ] || { echo "image_view.sh: $program is not built" >&2; exit 1; }
QT_QPA_PLATFORM=xcb exec xvfb-run -a -s "-screen 0 1920x1200x24" "$program"
