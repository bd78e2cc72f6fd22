#!/bin/sh
# Converts a UTF-8 document with LF line ends into Shift-JIS with CRLF, as Windows expects.
set -e
sed 's/$/\r/' "$1" | iconv -f UTF-8 -t CP932 > "$2.tmp"
mv "$2.tmp" "$2"
