#!/usr/bin/env bash
# Makes build/dist/NLCONF-<version>-win64.zip from the windows build: the
# program, nlconf-cli.exe and the user's guide (as HTML, with its pictures);
# and build/dist/NLCONF-<version>-linux-x86_64.tar.gz: nlconf-cli, built here
# by the cli preset (optimised, no sanitizers), and the guide. The version
# is the one on the project() line of CMakeLists.txt.
#
#   scripts/package.sh           builds what is missing or stale of build/windows first
#   scripts/package.sh --check   and then opens the archives and checks what they hold
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -nE 's/^project\(nlconf VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "package: no version on the project() line"; exit 1; }
exe=build/windows/app/nlconf.exe
# A fresh clone has no build yet, and an older build would ship stale.
build_log=$(mktemp)
if ! { [[ -f build/windows/CMakeCache.txt ]] || cmake --preset windows; } >"$build_log" 2>&1 ||
  ! cmake --build build/windows --target nlconf nlconf-cli -j "$(nproc)" >>"$build_log" 2>&1; then
  tail -n 30 "$build_log"
  rm -f "$build_log"
  echo "package: the windows build failed"
  exit 1
fi
rm -f "$build_log"
cli_exe=build/windows/cli/nlconf-cli.exe
if ! cmake --preset cli >/dev/null || ! cmake --build --preset cli >/dev/null; then
  echo "package: the cli preset did not build"
  exit 1
fi
cli=build/cli/cli/nlconf-cli
linux=NLCONF-$version-linux-x86_64
name=NLCONF-$version-win64
dist=build/dist
stage=$dist/$name
archive=$dist/$name.zip

rm -rf "$stage" "$archive" "${dist:?}/${linux:?}" "$dist/$linux.tar.gz"
mkdir -p "$stage/pictures"
cp "$exe" "$cli_exe" "$stage/"
cp docs/pictures/*.png "$stage/pictures/"
{
  printf '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
  printf '<title>NLCONF %s user'"'"'s guide</title>\n' "$version"
  printf '<style>body{font-family:sans-serif;max-width:60em;margin:auto;padding:1em}'
  printf 'table{border-collapse:collapse}td,th{border:1px solid #999;padding:.3em;vertical-align:top}'
  printf 'img{max-width:100%%}</style>\n</head>\n<body>\n'
  # Debian's own Python, which has the markdown package, whatever else is on PATH.
  /usr/bin/python3 -m markdown -x tables -x fenced_code docs/guide.md
  printf '</body>\n</html>\n'
} >"$stage/guide.html"
# A stable order and no extra attributes: the same build gives the same zip.
(cd "$dist" && find "$name" -type f | LC_ALL=C sort | zip -q -X -D "$name.zip" -@)
mkdir -p "$dist/$linux"
cp -r "$stage/guide.html" "$stage/pictures" "$cli" "$dist/$linux/"
(cd "$dist" && find "$linux" -type f | LC_ALL=C sort |
  tar --owner=0 --group=0 --mtime=@0 -czf "$linux.tar.gz" -T -)
rm -rf "$stage" "${dist:?}/${linux:?}"
echo "$archive"
echo "$dist/$linux.tar.gz"

[[ ${1:-} == --check ]] || exit 0
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
unzip -q "$archive" -d "$check"
cmp -s "$exe" "$check/$name/nlconf.exe" || { echo "package: nlconf.exe differs from the build"; exit 1; }
cmp -s "$cli_exe" "$check/$name/nlconf-cli.exe" || { echo "package: nlconf-cli.exe differs from the build"; exit 1; }
tar -xzf "$dist/$linux.tar.gz" -C "$check"
cmp -s "$cli" "$check/$linux/nlconf-cli" || { echo "package: nlconf-cli differs from the build"; exit 1; }
"$check/$linux/nlconf-cli" --version | grep -qx "nlconf-cli $version" ||
  { echo "package: nlconf-cli does not say its version"; exit 1; }
[[ -s $check/$linux/guide.html ]] || { echo "package: the Linux archive has no guide"; exit 1; }
grep -q '<h1>NLCONF user' "$check/$name/guide.html" || { echo "package: guide.html has no title"; exit 1; }
for picture in $(grep -o 'src="pictures/[^"]*"' "$check/$name/guide.html" | sed 's/src="//; s/"$//'); do
  [[ -s $check/$name/$picture ]] || { echo "package: the guide shows $picture, the archive lacks it"; exit 1; }
done
echo "package: $archive holds nlconf.exe, nlconf-cli.exe and the guide with its pictures;" \
  "$dist/$linux.tar.gz holds nlconf-cli and the guide"
