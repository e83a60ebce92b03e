#!/bin/sh
# One greeting end to end: the reference greeting server, a local mail drop and the control on the
# synthetic camera load a skin, record, play back, send a greeting and a mobile e-mail. Exits 0
# only when both mails arrived with both attachments. Called by ./run demo after the build.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
DEMO=$(mktemp -d /tmp/moviletta-demo.XXXXXX)
PIDS=""
cleanup() {
  for pid in $PIDS; do kill "$pid" 2>/dev/null || true; done
  for pid in $PIDS; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT INT TERM

# Starts a service in the background and waits for its "READY <port>" line; sets PORT.
start() {
  log=$1; shift
  "$@" > "$log" 2> "$log.err" &
  PIDS="$PIDS $!"
  for _ in $(seq 100); do
    PORT=$(sed -n 's/^READY \([0-9]*\)$/\1/p' "$log")
    [ -n "$PORT" ] && return 0
    sleep 0.1
  done
  echo "demo: $1 did not start:" >&2; cat "$log.err" >&2; exit 1
}

mkdir -p "$DEMO/app/SKINS" "$DEMO/app/STATICS" "$DEMO/server" "$DEMO/mail"
"$BUILD/tools/demo-skins" "$DEMO/server" > /dev/null
start "$DEMO/mail.log" /usr/bin/python3 "$ROOT/tools/mail_drop.py" --folder "$DEMO/mail"
MAIL_PORT=$PORT
cat > "$DEMO/server/settings.xml" <<XML
<?xml version="1.0"?>
<SETTINGS>
  <SITE>demo</SITE><DOWNLOAD>\${SERVER}/skins/</DOWNLOAD><REGISTER>\${SERVER}/register.asp</REGISTER>
  <SKIN>\${SERVER}/skinType.asp</SKIN><SECLIMIT>3</SECLIMIT><ANIMPREVIEW>0</ANIMPREVIEW>
  <OUTPUT>mpg</OUTPUT><CONVERTOR>0</CONVERTOR><TRANSCOLOR>16711935</TRANSCOLOR><FPS>15</FPS>
  <SAMPLESIZE>16</SAMPLESIZE><FILEWIDTH>320</FILEWIDTH><FILEHEIGHT>240</FILEHEIGHT>
  <AUDIOBITRATE>64000</AUDIOBITRATE><AUDIOSAMPLERATE>22050</AUDIOSAMPLERATE>
  <SENDTO>greetings@moviletta.test</SENDTO><SENDFROM>studio@moviletta.test</SENDFROM>
  <SMTPHOST>127.0.0.1:$MAIL_PORT</SMTPHOST><SMTPPWD></SMTPPWD>
</SETTINGS>
XML
start "$DEMO/server.log" "$BUILD/greeting-server/greeting-server" --data "$DEMO/server"
SERVER=http://127.0.0.1:$PORT
echo "greeting server $SERVER, mail drop 127.0.0.1:$MAIL_PORT, demo folder $DEMO"

"$BUILD/host/moviletta-cli" --server "$SERVER" --app-dir "$DEMO/app" --camera synthetic \
  LoadSkin=42 RecordVideo PlayVideo Wait=4 \
  "SendGreeting=7|Ann|ann@example.com|Bob,555 0101,bob@example.com|Happy birthday, Bob!|1|3" \
  Wait=3 "SendByEmail=Ann|ann@example.com|Bob|+41 79 555 01 01|bob@example.com|Happy birthday!" \
  Wait=3

echo
echo "== mails in the drop ($DEMO/mail)"
arrived=0
for mail in "$DEMO"/mail/*.eml; do
  [ -e "$mail" ] || continue
  base=${mail%.eml}
  echo "$mail: subject \"$(cat "$base.subject")\""
  complete=1
  for file in Moviletta.mpg Moviletta.jpg; do
    if [ -s "$base.parts/$file" ]; then
      echo "  $file, $(wc -c < "$base.parts/$file") bytes"
    else
      echo "  $file missing"; complete=0
    fi
  done
  if [ -s "$base.parts/Moviletta.mpg" ] && command -v ffprobe > /dev/null; then
    echo "  greeting lasts $(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 \
      "$base.parts/Moviletta.mpg") s"
  fi
  [ $complete = 1 ] && arrived=$((arrived + 1))
done
echo
echo "== greeting server log"
cat "$DEMO/server/log.txt" 2>/dev/null || echo "(empty)"
if [ $arrived -ge 2 ]; then
  echo "demo: both mails arrived with both attachments"
  exit 0
fi
echo "demo: FAILED, $arrived complete mail(s)" >&2
exit 1
