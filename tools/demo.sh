#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# One greeting end to end: the studio on the synthetic camera, driven over the host's own HTTP
# interface as its page would (load a skin, record, play back, send a greeting and a mobile
# e-mail), the site's mail server (Postfix on loopback where this runs as root) handing both mails
# to the greeting service (through moviletta-deliver, to the running service), which makes an MP4
# of each and mails their recipients through a local mail drop. Prints the events as they happen, the watch pages,
# what ffprobe finds in their video and the recipients' mails. Exits 0 only when both greetings
# reached their recipients with an H.264 and AAC video of the take's length (within a frame). Called by ./run demo.
set -eu
GREETINGS=service
. "$(dirname "$0")/services.sh"
start "$DEMO/studio.log" "$BUILD/host/moviletta-studio" --server "$SERVER" --app-dir "$DEMO/app" \
  --camera synthetic --bag "$DEMO/studio.bag.json"
STUDIO=127.0.0.1:$PORT
TOKEN=$(sed -n 's/.*token=\([0-9a-f]*\).*/\1/p' "$DEMO/studio.log")
echo "greeting service $SERVER, its mail server $MAIL_DROP_HOST, recipients' mail drop" \
  "127.0.0.1:$MAIL_PORT, studio http://$STUDIO, folder $DEMO"

# The page's event stream, printed as it comes.
curl -sN "http://$STUDIO/events?token=$TOKEN" | while IFS= read -r line; do
  case "$line" in
    "event: "*) name=${line#event: } ;;
    "data: "*) [ "$name" = level ] || echo "  event $name ${line#data: }" ;;
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
report() { "$GREETINGS_BIN" report --data "$SERVICE_DATA" --site "$SITE_HOST"; }
# The studio's mails (those with its attachments) in the local mail drop.
studio_mails() { [ "$(ls "$DEMO"/mail/*.parts/Moviletta.jpg 2>/dev/null | wc -l)" -ge 2 ]; }

taken() { [ "$(report | grep -c '^greeting ')" -ge "$1" ]; }
mailed() { [ "$(report | grep -c '^greeting .*: mailed, ')" -ge 2 ]; }

call LoadSkin '[42]'
call RecordVideo
wait_for 20 stopped > /dev/null
call PlayVideo
wait_for 20 stopped > /dev/null
call SendGreeting '[7, "Ann", "ann@example.com", "Bob,555 0101,bob@example.com", "Happy birthday, Bob!", "1", 3]'
wait_for 30 stopped > /dev/null
[ -z "$MTA" ] || wait_for 30 taken 1 || true
call SendByEmail '["Ann", "ann@example.com", "Bob", "+41 79 555 01 01", "bob@example.com", "Happy birthday!"]'
wait_for 30 stopped > /dev/null
if [ -z "$MTA" ]; then
  # No mail server of our own: the mail drop's mails are handed over as a mail server would.
  wait_for 20 studio_mails || true
  for part in "$DEMO"/mail/*.parts/Moviletta.jpg; do
    "$DELIVER_BIN" --data "$SERVICE_DATA" --recipient drop@greetings.test \
      < "${part%.parts/Moviletta.jpg}.eml" || true
  done
fi
wait_for 30 taken 2 || true
wait_for 60 mailed || true

echo
echo "== what the greeting service kept (moviletta-greetings report)"
report
echo
echo "== the watch pages"
good=0
for watch in $(report | sed -n 's|^greeting .*, \(/watch/[0-9a-f]*\)$|\1|p'); do
  token=${watch#/watch/}
  echo "$SERVER$watch"
  curl -sf "$SERVER$watch/video.mp4" -o "$DEMO/$token.mp4" || { echo "  no video"; continue; }
  codecs=$(ffprobe -v error -show_entries stream=codec_name -of default=nw=1:nk=1 "$DEMO/$token.mp4" | tr '\n' ' ')
  length=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$DEMO/$token.mp4")
  take=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 \
    "$SERVICE_DATA"/media/"$token"/greeting.* 2> /dev/null || echo 0)
  echo "  MP4: $codecs, $length s (the take: $take s)"
  if [ "$codecs" = "h264 aac " ] &&
    awk -v a="$length" -v b="$take" 'BEGIN { d = a - b; exit !(d < 0.07 && d > -0.07) }'; then
    good=$((good + 1))
  fi
done
echo
echo "== the recipients' mails ($DEMO/mail)"
for subject in "$DEMO"/mail/*.subject; do
  [ -e "$subject" ] || continue
  [ -e "${subject%.subject}.parts/Moviletta.jpg" ] && continue
  echo "${subject%.subject}.eml: to $(tail -1 "${subject%.subject}.envelope")," \
    "\"$(cat "$subject")\""
done
if [ $good -ge 2 ] && mailed; then
  echo "demo: both greetings reached their recipients, each with an H.264 and AAC video of the take"
  exit 0
fi
echo "demo: FAILED, $good good video(s)" >&2
exit 1
