# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by demo.sh and studio.sh: a demo folder, the greeting server with the demo skins (the
# greeting service moviletta-greetings when GREETINGS=service, else the reference server), a local
# mail drop, and the cleanup that stops every process started here by its id.
# Sets DEMO, SERVER (greeting server address), SERVER_PID, SITE (the sample greeting site's page,
# on an origin of its own), MAIL_PORT, MAIL_PID; the mail drop answers "451" while the file
# $DEMO/mail-refuses exists, and holds every mail before its recipients while $DEMO/mail-holds
# does. With REMOVE_DEMO set, the folder goes
# when the script ends.
ROOT=${ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
BUILD=${BUILD:-$ROOT/build}
DEMO=$(mktemp -d /tmp/moviletta-demo.XXXXXX)
PIDS=""
cleanup() {
  for pid in $PIDS; do kill "$pid" 2>/dev/null || true; done
  for pid in $PIDS; do wait "$pid" 2>/dev/null || true; done
  [ -z "${REMOVE_DEMO:-}" ] || rm -rf "$DEMO"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs until interrupted; waiting on a background sleep, unlike a foreground one, lets the traps
# run at once.
wait_forever() {
  while :; do
    sleep 3600 &
    PIDS="$PIDS $!"
    wait $!
  done
}

# start LOG COMMAND...: starts a service in the background and waits for the line that says it
# is ready ("READY <port>" or the studio's "... http://127.0.0.1:<port>/..."); sets PORT.
start() {
  log=$1; shift
  "$@" > "$log" 2> "$log.err" &
  PIDS="$PIDS $!"
  for _ in $(seq 200); do
    PORT=$(sed -n -e 's/^READY \([0-9]*\)$/\1/p' -e 's|.*http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$log")
    [ -n "$PORT" ] && return 0
    sleep 0.1
  done
  echo "$1 did not start:" >&2; cat "$log.err" >&2; exit 1
}

mkdir -p "$DEMO/app/SKINS" "$DEMO/app/STATICS" "$DEMO/server" "$DEMO/mail"
"$BUILD/tools/demo-skins" "$DEMO/server" > /dev/null
start "$DEMO/mail.log" /usr/bin/python3 "$ROOT/tools/mail_drop.py" --folder "$DEMO/mail" \
  --refuse-while "$DEMO/mail-refuses" --hold-while "$DEMO/mail-holds"
MAIL_PORT=$PORT
MAIL_PID=$!
if [ "${GREETINGS:-}" = service ]; then
  # The greeting service with its own database, serving the sample site's pages and the studio's
  # client script on its own origin.
  GREETINGS_BIN=$BUILD/service/moviletta-greetings
  DELIVER_BIN=$BUILD/service/moviletta-deliver
  SERVICE_DATA=$DEMO/service
  free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
  }
  SERVICE_PORT=$(free_port)
  SITE_HOST=127.0.0.1:$SERVICE_PORT
  # The site's mail drop: a Postfix of the demo's own handing each mail to `moviletta-deliver`
  # (which hands it to the running service) where this runs as root (Postfix's master needs it);
  # elsewhere the local mail drop, whose mails the demo hands to `moviletta-deliver` itself. The service then runs as the pipe's user, nobody, and mails the
  # recipients through the local mail drop.
  MAIL_DROP_HOST=127.0.0.1:$MAIL_PORT
  MTA=""
  if [ "$(id -u)" = 0 ] && [ -x /usr/sbin/postfix ] && id postfix > /dev/null 2>&1; then
    MTA_PORT=$(free_port)
    chmod 711 "$DEMO"
    MTA=$("$ROOT/tools/mta.sh" "$DEMO/mta" "$MTA_PORT" "$DELIVER_BIN" --data \
      "$SERVICE_DATA" --recipient '${recipient}')
    PIDS="$PIDS $MTA"
    MAIL_DROP_HOST=127.0.0.1:$MTA_PORT
  fi
  mkdir -p "$DEMO/pages"
  cp "$ROOT/greeting-server/site/"* "$ROOT/host/web/moviletta.js" "$DEMO/pages/"
  "$GREETINGS_BIN" settings --data "$SERVICE_DATA" --site "$SITE_HOST" SITE=demo SECLIMIT=3 \
    "ANIMPREVIEW=${ANIMPREVIEW:-0}" SENDTO=drop@greetings.test SENDFROM=studio@moviletta.test \
    "SMTPHOST=$MAIL_DROP_HOST" SMTPPWD=
  files=$DEMO/server/skins/files
  "$GREETINGS_BIN" skin add --data "$SERVICE_DATA" --site "$SITE_HOST" --id 42 \
    --name "Circling star" --kind SKIN "$files"/frames/42/1.gif "$files"/frames/42/2.gif \
    "$files"/frames/42/3.gif "$files"/frames/42/4.gif "$files"/frames/42/5.gif \
    "$files"/frames/42/6.gif
  "$GREETINGS_BIN" skin add --data "$SERVICE_DATA" --site "$SITE_HOST" --id 7 \
    --name "Golden frame" --kind STATIC "$files"/statics/7.gif
  "$GREETINGS_BIN" skin add --data "$SERVICE_DATA" --site "$SITE_HOST" --id 100000 \
    --name "Loading" --kind STATIC "$files"/statics/placeholder.gif
  AS_SERVICE=""
  if [ -n "$MTA" ]; then
    chown -R nobody:nogroup "$SERVICE_DATA"
    chmod 755 "$DEMO/pages"
    AS_SERVICE="setpriv --reuid=nobody --regid=nogroup --clear-groups"
  fi
  # shellcheck disable=SC2086
  start "$DEMO/server.log" $AS_SERVICE "$GREETINGS_BIN" serve --data "$SERVICE_DATA" \
    --listen "$SITE_HOST" --pages "$DEMO/pages" --relay "smtp://127.0.0.1:$MAIL_PORT" \
    --sms-gateway "{number}@sms.greetings.test"
  SERVER_PID=$!
  SERVER=http://$SITE_HOST
  SITE=$SERVER/
else
cat > "$DEMO/server/settings.xml" <<XML
<?xml version="1.0"?>
<SETTINGS>
  <SITE>demo</SITE><DOWNLOAD>\${SERVER}/skins/</DOWNLOAD><REGISTER>\${SERVER}/register.asp</REGISTER>
  <SKIN>\${SERVER}/skinType.asp</SKIN><SECLIMIT>3</SECLIMIT><ANIMPREVIEW>${ANIMPREVIEW:-0}</ANIMPREVIEW>
  <OUTPUT>mpg</OUTPUT><CONVERTOR>0</CONVERTOR><TRANSCOLOR>16711935</TRANSCOLOR><FPS>15</FPS>
  <SAMPLESIZE>16</SAMPLESIZE><FILEWIDTH>320</FILEWIDTH><FILEHEIGHT>240</FILEHEIGHT>
  <AUDIOBITRATE>64000</AUDIOBITRATE><AUDIOSAMPLERATE>22050</AUDIOSAMPLERATE>
  <SENDTO>greetings@moviletta.test</SENDTO><SENDFROM>studio@moviletta.test</SENDFROM>
  <SMTPHOST>127.0.0.1:$MAIL_PORT</SMTPHOST><SMTPPWD></SMTPPWD>
</SETTINGS>
XML
start "$DEMO/server.log" "$BUILD/greeting-server/greeting-server" --data "$DEMO/server" \
  --site "$ROOT/greeting-server/site" --client "$ROOT/host/web"
SERVER_PID=$!
SERVER=http://127.0.0.1:$PORT
SITE=http://127.0.0.1:$(sed -n 's/^SITE \([0-9]*\)$/\1/p' "$DEMO/server.log")/
fi
