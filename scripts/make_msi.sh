#!/usr/bin/env bash
# The Windows installer, from a windows build and packaging/nlconf.wxs, by
# Debian's wixl (msitools):
#   scripts/make_msi.sh WINDOWS_BUILD OUT.msi VERSION
# VERSION is the build's (package.sh reads it), or another for trying an upgrade.
# The same build and commit give the same bytes: the codes that name the
# product and the package are derived, not drawn, and wixl runs with the
# clock stopped at the commit's time (SOURCE_DATE_EPOCH, else the last
# commit's): a clock that ran would date a slow build a second later.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
windows=$(cd "$1" && pwd)
out=$(realpath -m "$2")
version=${3:-}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "make_msi: want a version such as 1.1.0"; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct)}
for tool in wixl wixl-heat msibuild faketime; do
  command -v "$tool" >/dev/null || { echo "make_msi: no $tool (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
mkdir -p "$stage/pictures"
cp "$windows/app/nlconf.exe" "$windows/cli/nlconf-cli.exe" "$here/resources/nlconf.ico" "$stage/"
cp "$here"/docs/pictures/*.png "$stage/pictures/"
"$here/scripts/guide_html.sh" "$version" >"$stage/guide.html"
# Notepad's line ends: the licence texts are read on Windows.
sed 's/$/\r/' "$here/packaging/copyright" >"$stage/copyright.txt"
sed 's/$/\r/' /usr/share/doc/mingw-w64-common/copyright >"$stage/mingw-w64-runtime.txt"
find "$stage" -exec touch -h -d "@$epoch" {} +

# Name-based UUIDs under the UpgradeCode: a version has one ProductCode, a
# package's contents one PackageCode.
upgrade_code=$(sed -nE 's/.*UpgradeCode="([0-9A-F-]{36})".*/\1/p' "$here/packaging/nlconf.wxs")
contents=$(cd "$stage" && find . -type f | LC_ALL=C sort | xargs sha256sum | sha256sum | cut -c1-64)
name_uuid() {
  /usr/bin/python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$upgrade_code" "$1"
}
product_code=$(name_uuid "product $version")
package_code=$(name_uuid "package $version $contents")

# The pictures, one component each, their GUIDs from their paths.
# wixl-heat wraps them in a folder named after the working one: taken away.
(cd "$stage/pictures" && find . -type f -printf '%P\n' | LC_ALL=C sort) |
  wixl-heat --var var.Pictures --directory-ref PicturesFolder --component-group GuidePictures -p "" |
  sed -e 's/Guid="\*"/Guid="*" Win64="yes"/' -e '/<Directory /d' -e '/<\/Directory>/d' >"$work/pictures.wxs"

at_commit_time() {
  TZ=UTC faketime -f "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" "$@"
}
rm -f "$out"
# wixl takes sources by relative paths only.
if ! (cd "$work" && at_commit_time wixl -a x64 -D "Version=$version" -D "ProductCode=$product_code" \
  -D Stage=stage -D Pictures=stage/pictures -o "$out" "$here/packaging/nlconf.wxs" pictures.wxs) >"$work/wixl.log" 2>&1; then
  cat "$work/wixl.log"
  echo "make_msi: wixl failed"
  exit 1
fi
# The folder on the system PATH, appended and taken away again with its
# component: wixl has no element for it.
printf 'Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\n' \
  >"$work/Environment.idt"
printf 'PathEntry\t=-*PATH\t[~];[INSTALLDIR]\tCommandLine\n' >>"$work/Environment.idt"
at_commit_time msibuild "$out" -i "$work/Environment.idt" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)" \
  -s "NLCONF $version" "The NLCONF developers" "x64;1033" "{$package_code}"
echo "$out"
