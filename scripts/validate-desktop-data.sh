#!/usr/bin/env bash
# validate-desktop-data.sh DESKTOP_FILE METAINFO_FILE: the launcher and the AppStream description
# pass the freedesktop and AppStream validators without a single remark, pedantic hints included.
# Exit 77 (a skipped CTest) when a validator is not installed.
set -uo pipefail
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
status=0
remarks="$(desktop-file-validate "$1" 2>&1)" || status=1
remarks+=$'\n'"$(appstreamcli validate --pedantic --strict --no-net "$2" 2>&1)" || status=1
# appstreamcli closes a clean run with this line alone.
remarks="$(grep -v -e '^✔ Validation was successful\.$' -e '^$' <<<"$remarks")"
if [ $status -ne 0 ] || [ -n "$remarks" ]; then
  echo "$remarks"
  exit 1
fi
echo "$1 and $2 validate"
