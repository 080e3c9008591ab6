#!/usr/bin/env bash
# The demonstration behind `make demo`: uploads the sample site in demo/site to an FTP server on
# this computer with kelvane-cli, shows that a second run has nothing to do, then changes one
# page, deletes another and runs once more.
#
# Everything happens in one temporary folder (server files, settings, the local copy of the
# site, the log); the server is stopped and the folder removed when the script ends, however it
# ends. Set KELVANE_DEMO_KEEP=1 to keep the folder for a look afterwards.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
case "$build" in
  /*) ;;
  *) build="$repo/$build" ;;
esac
cli="$build/src/kelvane-cli"
python=/usr/bin/python3
server_script="$repo/tests/support/pyftpd_server.py"

if [ ! -x "$cli" ]; then
  echo "kelvane-cli is not built yet ($cli); run 'make build' first." >&2
  exit 1
fi
if ! "$python" -c 'import pyftpdlib' 2>/dev/null; then
  echo "The demo needs pyftpdlib (Debian package python3-pyftpdlib); 'make deps' installs it." >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-demo.XXXXXX")
server_pid=""

stop_server() {
  if [ -n "$server_pid" ]; then
    # The server also ends by itself when this script's end closes its standard input.
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}

finish() {
  stop_server
  if [ "${KELVANE_DEMO_KEEP:-0}" = "1" ]; then
    echo "The demo's files are kept in $work"
  else
    rm -rf "$work"
  fi
}
trap finish EXIT
trap 'exit 130' INT TERM

step() {
  echo
  echo "==> $*"
}

# kelvane-cli with the demo's own settings folder, so that nothing of the user's is touched.
kelvane() {
  "$cli" --config-dir "$work/settings" "$@"
}

run_profile() {
  local status=0
  kelvane run "$work/settings/demo-site.kvp" || status=$?
  echo "(exit status $status)"
}

echo "Kelvane demo: kelvane-cli keeps a web site on an FTP server in step with a local folder."
echo "It uploads what is new or newer and deletes on the server what is gone locally."
echo "Everything below happens in $work and on a server that only this computer can reach."

mkdir -p "$work/server/www" "$work/settings"
cp -R "$repo/demo/site" "$work/site"

step "Starting an FTP server (pyftpdlib) on 127.0.0.1, serving $work/server"
password=demo-$RANDOM$RANDOM
coproc SERVER { exec "$python" "$server_script" --root "$work/server" --user demo \
  --password "$password" 2>"$work/server.log"; }
server_pid=$SERVER_PID
server_out=${SERVER[0]}
port=""
if ! read -r -t 20 port <&"$server_out" || [ -z "$port" ]; then
  echo "The FTP server did not start; its log:" >&2
  cat "$work/server.log" >&2
  exit 1
fi
echo "    listening on port $port"

step "Writing the connection \"demo\" and the profile demo-site.kvp into $work/settings"
# The connections file stores the password shifted by 64 per byte, with CR LF line ends.
scrambled=$("$python" -c 'import sys; sys.stdout.buffer.write(bytes((b + 64) % 256 for b in sys.argv[1].encode()))' "$password")
printf 'KelvaneVersion=1.06\r\nConnectionName=demo\r\nServerName=127.0.0.1\r\nUserName=demo\r\nPassword=%s\r\nEmail=\r\nPortNumber=%s\r\nPassiveMode=1\r\nEndRecord=\r\n' \
  "$scrambled" "$port" >"$work/settings/KelvaneConnections.txt"
# Upload the local copy to /www on the server, delete there what is gone here, log each run,
# and leave out the drafts folder (an exact entry) and every *.tmp file (a wildcard).
printf '%s\r\n' \
  "kelvane_version=1.06" \
  "location1=$work/site" \
  "location2=FTP:demo/www/" \
  "delete_files=1" "confirm_deletes=0" "add_files=1" "check_sub_folders=1" "auto_start=1" \
  "check_actions=0" "silent_mode=1" "exit_on_completion=0" "compare_on_time=1" \
  "adjust_time_hours=0" "adjust_time_mins=0" \
  "log_file_on=1" "log_file_append=1" "log_file_path=$work/demo-site.log" \
  "exclusions=" "$work/site/drafts/" "end_exclusions" \
  "wildcard_exclusions=" "*.tmp" "end_wildcard_exclusions" \
  "ftp_exclusions=" "end_exclusions" "wildcard_exclusions=" "end_wildcard_exclusions" \
  >"$work/settings/demo-site.kvp"
kelvane connections

step "First run: kelvane-cli run demo-site.kvp uploads the sample site"
echo "    (drafts/ and notes.tmp are excluded and stay on this computer)"
run_profile

step "What the server holds now (kelvane-cli ls FTP:demo/www)"
kelvane ls FTP:demo/www
echo "    and in www/blog:"
kelvane ls FTP:demo/www/blog

step "Second run: nothing has changed, so there is nothing to do"
run_profile

step "Changing about.html and deleting contact.html locally"
# A second's pause, so that the change is newer than the upload even on a fast machine.
sleep 1
echo '<!-- Opening hours changed for the summer. -->' >>"$work/site/about.html"
rm "$work/site/contact.html"
echo "    What a run would do now (kelvane-cli run --dry-run), without doing it:"
kelvane run --dry-run "$work/settings/demo-site.kvp" | sed 's/^/    /'

step "Third run: one overwrite and one delete"
run_profile

step "The profile keeps a log of every run; the results of the last one in demo-site.log:"
# Everything from the last "Synchronisation completed at:" to the end of the file.
awk '/^Synchronisation completed at:/ { last = "" } { last = last $0 "\n" } END { printf "%s", last }' \
  "$work/demo-site.log" | sed 's/^/    /'

step "Stopping the FTP server"
stop_server
echo "    Done. The demo leaves nothing behind."
