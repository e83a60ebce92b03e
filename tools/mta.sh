#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a Postfix instance of its own as a greeting site's mail server: tools/mta.sh FOLDER PORT
# COMMAND... keeps its configuration, queue and log (FOLDER/maillog) in FOLDER, listens on
# 127.0.0.1:PORT, takes mail for the domain greetings.test and hands each mail to COMMAND (its
# words; "${recipient}" stands for the address) through Postfix's pipe transport as the user
# nobody. Exit 75 of the command keeps the mail queued for a later try; another failure returns
# it to its sender. Mail for other domains is refused. Prints the master's process id once it
# runs (stop it with SIGTERM). Needs root: Postfix's master starts as root.
set -eu
folder=$1 port=$2
shift 2
mkdir -p "$folder/etc" "$folder/queue" "$folder/data"
chmod 755 "$folder"
chown postfix "$folder/data"
cat > "$folder/etc/main.cf" <<CONF
compatibility_level = 3.6
queue_directory = $folder/queue
data_directory = $folder/data
maillog_file = $folder/maillog
maillog_file_prefixes = $folder
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
meta_directory = /etc/postfix
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mta.moviletta.test
mydestination =
relay_domains = greetings.test
relay_transport = greetings
default_transport = error:only greetings.test here
mynetworks = 127.0.0.0/8
smtpd_recipient_restrictions = permit_mynetworks, reject_unauth_destination
message_size_limit = 100000000
greetings_destination_recipient_limit = 1
alias_maps =
alias_database =
biff = no
notify_classes =
queue_run_delay = 1s
minimal_backoff_time = 1s
maximal_backoff_time = 2s
CONF
cat > "$folder/etc/master.cf" <<CONF
127.0.0.1:$port inet n - n - - smtpd
pickup unix n - n 60 1 pickup
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
flush unix n - n 1000? 0 flush
proxymap unix - - n - - proxymap
smtp unix - - n - - smtp
relay unix - - n - - smtp
showq unix n - n - - showq
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
greetings unix - n n - - pipe flags=q user=nobody argv=$*
CONF
/usr/sbin/postfix -c "$folder/etc" start > /dev/null 2>&1 || {
  echo "tools/mta.sh: Postfix did not start:" >&2
  cat "$folder/maillog" >&2 2>/dev/null || true
  exit 1
}
for _ in $(seq 100); do
  pid=$(tr -d ' \n' < "$folder/queue/pid/master.pid" 2>/dev/null || true)
  [ -n "$pid" ] && { echo "$pid"; exit 0; }
  sleep 0.1
done
echo "tools/mta.sh: no master process id" >&2
exit 1
