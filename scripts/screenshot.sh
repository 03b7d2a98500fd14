#!/usr/bin/env bash
# Makes docs/screenshot.png: the real program under Xvfb, searching a small
# tree of sample files, as a user sees it. Needs xvfb, xdotool and imagemagick.
# SPDX-License-Identifier: GPL-3.0-or-later
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install xvfb xdotool imagemagick" >&2; exit 1; }
done
[ -x build/gemmora ] || { echo "build Gemmora first: ./gemmora.sh build" >&2; exit 1; }

work=$(mktemp -d /tmp/demo.XXXX)
trap 'rm -rf "$work"' EXIT
tree="$work/samples"
mkdir -p "$tree/2019 holiday" "$tree/backup/2019 holiday" "$tree/Downloads" "$tree/Documents/taxes" \
         "$tree/backup/taxes"
head -c 183000 /dev/urandom > "$tree/2019 holiday/beach.jpg"
cp -p "$tree/2019 holiday/beach.jpg" "$tree/backup/2019 holiday/beach.jpg"
cp -p "$tree/2019 holiday/beach.jpg" "$tree/Downloads/IMG_2041.jpg"
head -c 96000 /dev/urandom > "$tree/Documents/taxes/return 2023.pdf"
cp -p "$tree/Documents/taxes/return 2023.pdf" "$tree/backup/taxes/return 2023.pdf"
printf 'Shopping list\nbread\nmilk\n' > "$tree/Documents/list.txt"
cp -p "$tree/Documents/list.txt" "$tree/Downloads/list (1).txt"
head -c 5000 /dev/urandom > "$tree/Documents/unique.dat"
if [ -d build/tests/fixtures/version ]; then
    cp -p build/tests/fixtures/version/app64.exe "$tree/Downloads/setup.exe"
    cp -p build/tests/fixtures/version/app64.exe "$tree/backup/setup.exe"
fi

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$XDG_CONFIG_HOME/Quarrendale"
printf '[General]\nRootFolder="%s"\nCheckFileStamp=1\n' "$tree" > "$XDG_CONFIG_HOME/Quarrendale/Kelvarin.conf"
cp build/gemmora "$work/gemmora"  # list files go beside the program: keep them out of build/

cat > "$work/run.sh" <<EOS
#!/usr/bin/env bash
"$work/gemmora" &
pid=\$!
sleep 2
# "Find Now" is the default button: Enter starts the search.
xdotool key Return
sleep 2
# Wider, as a user would make it to read the version columns.
xdotool search --name "Gemmora named" windowmove 20 20 windowsize 940 560 2>/dev/null || true
sleep 1
import -window root "$work/screen.png"
kill \$pid
EOS
chmod +x "$work/run.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/run.sh" 2>/dev/null
# The window sits alone on a black screen: keep the window.
convert "$work/screen.png" -trim +repage docs/screenshot.png
echo "wrote docs/screenshot.png"
