#!/bin/sh
# One greeting end to end through the web host: the greeting service (moviletta-greetings), a
# local mail drop and the studio on the synthetic camera; driven over the host's own HTTP
# interface as its page would: load a skin, record, play back, send a greeting and a mobile e-mail. Prints the events as
# they happen, then the mails and what the service kept. Exits 0 only when both mails arrived with
# both attachments. Called by ./run demo after the build.
set -eu
GREETINGS=service
. "$(dirname "$0")/services.sh"
start "$DEMO/studio.log" "$BUILD/host/moviletta-studio" --server "$SERVER" --app-dir "$DEMO/app" \
  --camera synthetic --bag "$DEMO/studio.bag.json"
STUDIO=127.0.0.1:$PORT
TOKEN=$(sed -n 's/.*token=\([0-9a-f]*\).*/\1/p' "$DEMO/studio.log")
echo "greeting server $SERVER, mail drop 127.0.0.1:$MAIL_PORT, studio http://$STUDIO, folder $DEMO"

# The page's event stream, printed as it comes.
curl -sN "http://$STUDIO/events?token=$TOKEN" | while IFS= read -r line; do
  case "$line" in
    "event: "*) name=${line#event: } ;;
    "data: "*) echo "  event $name ${line#data: }" ;;
  esac
done &
PIDS="$PIDS $!"

call() {  # call MEMBER [JSON-ARGS]
  echo "call $1 ${2:-}"
  curl -sf -X POST -H "Origin: http://$STUDIO" -H "X-Moviletta-Token: $TOKEN" \
    -H "Content-Type: application/json" --data "${2:-[]}" "http://$STUDIO/call/$1"
  echo
}
wait_for() {  # wait_for SECONDS CONDITION...: polls the condition every 0.2 s
  seconds=$1; shift
  for _ in $(seq $((seconds * 5))); do "$@" && return 0; sleep 0.2; done
  return 1
}
stopped() { call "ClientStatus?kind=get" | grep -q '"value":1'; }
mails() { [ "$(ls "$DEMO"/mail/*.eml 2>/dev/null | wc -l)" -ge "$1" ]; }

call LoadSkin '[42]'
call RecordVideo
wait_for 20 stopped > /dev/null
call PlayVideo
wait_for 20 stopped > /dev/null
call SendGreeting '[7, "Ann", "ann@example.com", "Bob,555 0101,bob@example.com", "Happy birthday, Bob!", "1", 3]'
wait_for 20 mails 1 || true
call SendByEmail '["Ann", "ann@example.com", "Bob", "+41 79 555 01 01", "bob@example.com", "Happy birthday!"]'
wait_for 20 mails 2 || true
sleep 0.5

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
echo "== what the greeting service kept (moviletta-greetings report)"
"$GREETINGS_BIN" report --data "$SERVICE_DATA" --site "$SITE_HOST"
if [ $arrived -ge 2 ]; then
  echo "demo: both mails arrived with both attachments"
  exit 0
fi
echo "demo: FAILED, $arrived complete mail(s)" >&2
exit 1
