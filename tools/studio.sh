#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The studio for a person: the demo services and the web host; prints the page's address and runs
# until interrupted. Called by ./run studio after the build; options go to moviletta-studio.
set -eu
. "$(dirname "$0")/services.sh"
start "$DEMO/studio.log" "$BUILD/host/moviletta-studio" --server "$SERVER" --app-dir "$DEMO/app" \
  --bag "$DEMO/studio.bag.json" "$@"
echo "greeting server $SERVER, mail drop 127.0.0.1:$MAIL_PORT (mails in $DEMO/mail)"
echo "the studio's page:   $(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$DEMO/studio.log")"
echo "a greeting site:     $SITE"
echo "open the studio's page in a browser on this machine, then the site's; Ctrl-C stops everything"
wait_forever
