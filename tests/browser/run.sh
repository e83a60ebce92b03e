#!/bin/sh
# The browser test: the demo services, the studio on the synthetic camera, and the page driven in
# Debian's Chromium by playwright-core (tests/browser/studio.mjs). Run by ./run test.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
REMOVE_DEMO=1
. "$ROOT/tools/services.sh"
start "$DEMO/studio.log" "$BUILD/host/moviletta-studio" --server "$SERVER" --app-dir "$DEMO/app" \
  --camera synthetic --bag "$DEMO/studio.bag.json"
STUDIO_PID=$!
URL=$(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$DEMO/studio.log")
node "$ROOT/tests/browser/studio.mjs" "$URL" "$DEMO/mail" "$BUILD/browser-test" "$MAIL_PID" "$STUDIO_PID" "$SERVER_PID"
