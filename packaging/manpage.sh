#!/bin/sh
# manpage.sh OUT NAME SUMMARY PROGRAM [SUBCOMMAND...]: writes the manual page of PROGRAM from its
# own --help (and each subcommand's), so the page says what the program does and nothing else.
# The page is compressed as Debian keeps them; its date comes from SOURCE_DATE_EPOCH when set.
set -eu
out=$1 name=$2 summary=$3 program=$4
shift 4
date=$(date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" +%Y-%m-%d)
version=$("$program" --version 2>/dev/null | head -n1 | sed 's/.* //' || true)
upper=$(echo "$name" | tr '[:lower:]' '[:upper:]')
# Text for troff: backslashes doubled, a leading dot or quote made harmless, lines kept as they are.
text() { sed -e "s|$program|$name|g" -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"; }
{
  echo ".TH $upper 1 \"$date\" \"ipcam-upgrade ${version:-}\" \"User Commands\""
  echo ".SH NAME"
  printf '%s \\- %s\n' "$name" "$summary"
  echo ".SH SYNOPSIS"
  if [ $# -gt 0 ]; then
    echo ".B $name"
    printf '%s\n' '\fISUBCOMMAND\fR [\fIOPTIONS\fR]'
  else
    echo ".B $name"
    printf '%s\n' '[\fIOPTIONS\fR]'
  fi
  echo ".SH DESCRIPTION"
  echo ".nf"
  "$program" --help | text
  echo ".fi"
  for sub in "$@"; do
    echo ".SH \"SUBCOMMAND $(echo "$sub" | tr '[:lower:]' '[:upper:]')\""
    echo ".nf"
    "$program" "$sub" --help | text
    echo ".fi"
  done
  echo ".SH SEE ALSO"
  echo ".BR ipcam-upgrade (1),"
  echo ".BR ipcam-upgrade-cli (1),"
  echo ".BR ipcam-sim (1)"
} | gzip -9n > "$out"
