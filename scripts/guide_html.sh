#!/usr/bin/env bash
# The user's guide as one HTML page, for the Windows archive and installer:
#   scripts/guide_html.sh VERSION >guide.html
# Its pictures are the ones in docs/pictures, beside it in pictures/.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$1
printf '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
printf '<title>NLCONF %s user'"'"'s guide</title>\n' "$version"
printf '<style>body{font-family:sans-serif;max-width:60em;margin:auto;padding:1em}'
printf 'table{border-collapse:collapse}td,th{border:1px solid #999;padding:.3em;vertical-align:top}'
printf 'img{max-width:100%%}</style>\n</head>\n<body>\n'
# Debian's own Python, which has the markdown package, whatever else is on PATH.
/usr/bin/python3 -m markdown -x tables -x fenced_code docs/guide.md
printf '</body>\n</html>\n'
