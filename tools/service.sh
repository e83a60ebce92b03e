#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The greeting service for a site owner to try: moviletta-greetings on SQLite with the sample
# greeting site (its pages, the demo skins, its mail server, a local mail drop for the mails to
# recipients) and a first administrator; prints the admin page's address and the password, and
# runs until interrupted.
# Called by ./run service after the build.
set -eu
GREETINGS=service
ANIMPREVIEW=1
. "$(dirname "$0")/services.sh"
# shellcheck disable=SC2086
PASSWORD=$($AS_SERVICE "$GREETINGS_BIN" admin add owner --data "$SERVICE_DATA")
echo "the greeting service: $SERVER (data in $SERVICE_DATA, recipients' mails in $DEMO/mail)"
echo "its admin page:       $SERVER/admin  (name: owner, password: $PASSWORD)"
echo "the sample site:      $SITE  (start a studio against it: ./run studio --server $SERVER)"
echo "Ctrl-C stops it"
wait_forever
