#!/bin/sh
# encode.sh IN OUT CODEPAGE: a readable UTF-8 language file as the program stores it, in its
# language's code page, with CR LF line ends and no byte-order mark.
set -eu
tr -d '\r' < "$1" | sed '1s/^\xEF\xBB\xBF//' | iconv -f UTF-8 -t "$3" | LC_ALL=C sed 's/$/\r/' > "$2.tmp"
mv "$2.tmp" "$2"
