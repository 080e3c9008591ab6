#!/usr/bin/env bash
# The demonstration: until the synchronisation engine exists it shows what the command-line
# program can do already, with a connections file in a temporary settings folder.
set -euo pipefail
build=${1:-build}
cli="$build/src/kelvane-cli"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$cli" --version
printf 'KelvaneVersion=1.06\r\nConnectionName=demo site\r\nServerName=127.0.0.1\r\nUserName=web\r\nPassword=\xb3\xa5\xa3\xb2\xa5\xb4\r\nEmail=\r\nPortNumber=2121\r\nPassiveMode=1\r\nEndRecord=\r\n' \
    > "$tmp/KelvaneConnections.txt"
echo
echo "Connections in a sample connections file:"
"$cli" --config-dir "$tmp" connections
echo
echo "Synchronisation runs (kelvane-cli run) are not built yet; the demo will upload a sample"
echo "site to a local FTP server once they are."
