#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The browser test: the demo services, the studio on the synthetic camera, and the pages driven in
# Debian's Chromium by playwright-core: the greeting service's admin page (tests/browser/
# greetings.mjs), a greeting site's page with the visitor's consent (tests/browser/site.mjs), then
# the studio's own page (tests/browser/studio.mjs). Run by ./run test.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
REMOVE_DEMO=1
. "$ROOT/tools/services.sh"

# The greeting service's admin page, on a service of its own with a first administrator; the
# demo skins' pictures to upload, and a GIF whose header promises a 60000 x 60000 screen.
GREETINGS_DATA=$DEMO/greetings
PASSWORD=$("$BUILD/service/moviletta-greetings" admin add owner --data "$GREETINGS_DATA")
start "$DEMO/greetings.log" "$BUILD/service/moviletta-greetings" serve --data "$GREETINGS_DATA" \
  --listen 127.0.0.1:0 --relay "smtp://127.0.0.1:$MAIL_PORT"
GREETINGS_PORT=$PORT
mkdir -p "$DEMO/upload"
cp "$DEMO/server/skins/files/frames/42/"*.gif "$DEMO/upload/"
cp "$DEMO/server/skins/files/statics/7.gif" "$DEMO/upload/static.gif"
printf 'GIF89a\140\352\140\352\200\000\000' > "$DEMO/upload/hostile.gif"
node "$ROOT/tests/browser/greetings.mjs" "http://127.0.0.1:$PORT" "$PASSWORD" "$DEMO/upload" \
  "$BUILD/browser-test"

# The site's studio where sites look for it; a studio already on the first of those ports (a
# person's own) is passed by.
mkdir -p "$DEMO/site-app/SKINS" "$DEMO/site-app/STATICS"
start "$DEMO/site-studio.log" "$BUILD/host/moviletta-studio" --server "$SERVER" \
  --app-dir "$DEMO/site-app" --camera synthetic --bag ""
SITE_STUDIO_PID=$!
SITE_STUDIO_URL=$(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$DEMO/site-studio.log")
[ "$PORT" = 47800 ] || SITE="$SITE?studio=http://127.0.0.1:$PORT"
node "$ROOT/tests/browser/site.mjs" "$SITE_STUDIO_URL" "$SITE" "$DEMO/mail" "$BUILD/browser-test"
kill "$SITE_STUDIO_PID"

# The studio's microphone: ALSA's file plugin reading a FIFO that microphone.py feeds with a tone
# and silence in turn, named in the .asoundrc of the studio's own home.
mkdir -p "$DEMO/home"
mkfifo "$DEMO/home/microphone"
cat > "$DEMO/home/.asoundrc" <<ALSA
pcm.testmic { type file; slave.pcm "null"; file "/dev/null"; infile "$DEMO/home/microphone"
  format "raw"; hint { show on; description "Test microphone" } }
ALSA
/usr/bin/python3 "$ROOT/tests/browser/microphone.py" "$DEMO/home/microphone" &
PIDS="$PIDS $!"

start "$DEMO/studio.log" env HOME="$DEMO/home" "$BUILD/host/moviletta-studio" --server "$SERVER" \
  --app-dir "$DEMO/app" --camera synthetic --bag "$DEMO/studio.bag.json" --port 0
STUDIO_PID=$!
STUDIO_PORT=$PORT
URL=$(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$DEMO/studio.log")
# A second studio whose greeting server is not up yet; the test starts one on LATE_PORT.
LATE_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$DEMO/late/SKINS" "$DEMO/late/STATICS"
start "$DEMO/late.log" "$BUILD/host/moviletta-studio" --server "http://127.0.0.1:$LATE_PORT" \
  --app-dir "$DEMO/late" --camera synthetic --bag "" --port 0
LATE_URL=$(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$DEMO/late.log")
# The test stops the studio, then starts it again with this command, on the same port and with the
# same folder (the first greeting server is gone by then; the late one serves the same data).
STUDIO_AGAIN="[\"$BUILD/host/moviletta-studio\", \"--server\", \"http://127.0.0.1:$LATE_PORT\", \"--app-dir\", \"$DEMO/app\", \"--camera\", \"synthetic\", \"--bag\", \"$DEMO/studio.bag.json\", \"--port\", \"$STUDIO_PORT\"]"
node "$ROOT/tests/browser/studio.mjs" "$URL" "$DEMO/mail" "$BUILD/browser-test" \
  "$STUDIO_PID" "$SERVER_PID" "$LATE_URL" "$LATE_PORT" "$BUILD/greeting-server/greeting-server" \
  "$DEMO/server" "$STUDIO_AGAIN"

# A recipient's visit: the first greeting the studio mailed above, handed to the greeting service
# as its mail server would; the recipient's mail, then the watch page it links to.
for part in "$DEMO"/mail/*.parts/Moviletta.jpg; do
  mail=${part%.parts/Moviletta.jpg}.eml
  grep -q MLMESSAGE "$mail" || continue
  "$BUILD/service/moviletta-greetings" deliver --data "$GREETINGS_DATA" < "$mail"
  break
done
WATCH=""
for _ in $(seq 300); do
  WATCH=$(grep -ho "/watch/[0-9a-f]\{48\}" "$DEMO"/mail/*.body 2>/dev/null | head -1 || true)
  [ -n "$WATCH" ] && break
  sleep 0.2
done
[ -n "$WATCH" ] || { echo "watch: no recipient's mail with a watch page" >&2; exit 1; }
node "$ROOT/tests/browser/watch.mjs" "http://127.0.0.1:$GREETINGS_PORT$WATCH" "$DEMO/mail" \
  "$BUILD/browser-test"
