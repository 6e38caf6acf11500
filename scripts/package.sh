#!/usr/bin/env bash
# Makes, in build/dist, from the version on the project() line of
# CMakeLists.txt:
#   NLCONF-<version>-win64.zip         the program, nlconf-cli.exe and the user's
#                                      guide (as HTML, with its pictures)
#   NLCONF-<version>-win64.msi         the same as a Windows installer (make_msi.sh)
#   NLCONF-<version>-linux-x86_64.tar.gz  nlconf-cli (the cli preset: optimised,
#                                      no sanitizers), its manual page, completion
#                                      and documentation
#   nlconf-cli_<version>_amd64.deb     the same, installable
# Every file is dated by the last commit, so the same commit gives the same
# archives.
#
#   scripts/package.sh           builds what is missing or stale first
#   scripts/package.sh --check   and then opens the archives and checks what they hold
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -nE 's/^project\(nlconf VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "package: no version on the project() line"; exit 1; }
changelog_version=$(sed -nE '1s/^nlconf-cli \(([^)]*)\).*/\1/p' packaging/changelog)
[[ $changelog_version == "$version" ]] ||
  { echo "package: packaging/changelog has no entry for $version (its first is $changelog_version)"; exit 1; }
# Outside a git checkout (an exported tree), the changelog's last entry dates them.
changelog_time=$(date -d "$(sed -nE 's/^ -- .*>  (.*)/\1/p' packaging/changelog | head -n 1)" +%s) ||
  { echo "package: packaging/changelog's entry has no date"; exit 1; }
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo "$changelog_time")}
export TZ=UTC
umask 022

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
deb_name=nlconf-cli_${version}_amd64
dist=build/dist
stage=$dist/$name
archive=$dist/$name.zip
deb=$dist/$deb_name.deb
deb_root=$dist/$deb_name

date_tree() {
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# The manual page with this version and the commit's date.
man_page() {
  sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$(date -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)/" \
    packaging/nlconf-cli.1
}

# The one glibc version the program asks for at most; anything else it
# links dynamically would need a dependency of its own.
libc_depends() {
  local needed
  needed=$(objdump -p "$cli" | awk '/NEEDED/ { print $2 }' |
    grep -vxE 'libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|ld-linux-x86-64\.so\.2' || true)
  if [[ -n $needed ]]; then
    echo "package: nlconf-cli needs $needed, which the package does not depend on" >&2
    return 1
  fi
  printf 'libc6 (>= %s)' "$(objdump -T "$cli" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' |
    sort -uV | tail -n 1)"
}

rm -rf "$stage" "$archive" "${dist:?}/${linux:?}" "$dist/$linux.tar.gz" "${deb_root:?}" "$deb"
mkdir -p "$stage/pictures"
cp "$exe" "$cli_exe" "$stage/"
cp docs/pictures/*.png "$stage/pictures/"
scripts/guide_html.sh "$version" >"$stage/guide.html"
date_tree "$stage"
# A stable order, no extra attributes, dates in UTC: the same commit gives the same zip.
(cd "$dist" && find "$name" -type f | LC_ALL=C sort | zip -q -X -D "$name.zip" -@)

# The tarball: the program and what the package installs beside it.
mkdir -p "$dist/$linux/examples"
cp "$cli" "$dist/$linux/"
man_page >"$dist/$linux/nlconf-cli.1"
cp packaging/nlconf-cli.bash "$dist/$linux/nlconf-cli.bash"
cp docs/cli/README.md docs/cli/nlconf-cli.schema.json packaging/copyright packaging/changelog \
  "$dist/$linux/"
cp packaging/example-profile.ini "$dist/$linux/examples/profile.ini"
date_tree "$dist/$linux"
(cd "$dist" && tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  -cf - "$linux" | gzip -9n >"$linux.tar.gz")

# The package, from a tree laid out as it installs.
doc=$deb_root/usr/share/doc/nlconf-cli
mkdir -p "$deb_root/DEBIAN" "$deb_root/usr/bin" "$deb_root/usr/share/man/man1" \
  "$deb_root/usr/share/bash-completion/completions" "$doc/examples"
# Stripped as Debian ships programs; the symbols stay in the tarball's copy.
strip --strip-unneeded --remove-section=.comment --remove-section=.note -o \
  "$deb_root/usr/bin/nlconf-cli" "$cli"
man_page | gzip -9n >"$deb_root/usr/share/man/man1/nlconf-cli.1.gz"
cp packaging/nlconf-cli.bash "$deb_root/usr/share/bash-completion/completions/nlconf-cli"
cp docs/cli/README.md docs/cli/nlconf-cli.schema.json packaging/copyright "$doc/"
gzip -9n <packaging/changelog >"$doc/changelog.gz"
cp packaging/example-profile.ini "$doc/examples/profile.ini"
depends=$(libc_depends)
{
  printf 'Package: nlconf-cli\nVersion: %s\nArchitecture: amd64\n' "$version"
  printf 'Maintainer: NLCONF developers <nlconf@example.org>\n'
  printf 'Installed-Size: %s\n' "$(du -sk --apparent-size "$deb_root/usr" | cut -f1)"
  printf 'Depends: %s\nSection: electronics\nPriority: optional\n' "$depends"
  printf 'Description: configure a pair of IEEE 802.15.4 radio modules over serial ports\n'
  printf ' nlconf-cli reads and writes the settings of a master and a slave radio\n'
  printf ' module with their AT command set, makes them a pair, tests and measures\n'
  printf ' their link, and keeps a record of each pair it configures. Its results\n'
  printf ' come as text or JSON, with exit codes for scripts.\n'
} >"$deb_root/DEBIAN/control"
(cd "$deb_root" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$deb_root/DEBIAN/md5sums"
date_tree "$deb_root"
dpkg-deb --root-owner-group -Zxz -z3 --build "$deb_root" "$deb" >/dev/null

# The installer, from the same build.
msi=$dist/$name.msi
scripts/make_msi.sh build/windows "$msi" "$version" >/dev/null

rm -rf "$stage" "${dist:?}/${linux:?}" "${deb_root:?}"
echo "$archive"
echo "$msi"
echo "$dist/$linux.tar.gz"
echo "$deb"

[[ ${1:-} == --check ]] || exit 0
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
fail() {
  echo "package: $*"
  exit 1
}

unzip -q "$archive" -d "$check"
cmp -s "$exe" "$check/$name/nlconf.exe" || fail "nlconf.exe differs from the build"
cmp -s "$cli_exe" "$check/$name/nlconf-cli.exe" || fail "nlconf-cli.exe differs from the build"
grep -q '<h1>NLCONF user' "$check/$name/guide.html" || fail "guide.html has no title"
for picture in $(grep -o 'src="pictures/[^"]*"' "$check/$name/guide.html" | sed 's/src="//; s/"$//'); do
  [[ -s $check/$name/$picture ]] || fail "the guide shows $picture, the archive lacks it"
done

tar -xzf "$dist/$linux.tar.gz" -C "$check"
cmp -s "$cli" "$check/$linux/nlconf-cli" || fail "nlconf-cli differs from the build"
"$check/$linux/nlconf-cli" --version | grep -qx "nlconf-cli $version" ||
  fail "nlconf-cli does not say its version"
expected="$linux/ $linux/README.md $linux/changelog $linux/copyright $linux/examples/
$linux/examples/profile.ini $linux/nlconf-cli $linux/nlconf-cli.1 $linux/nlconf-cli.bash
$linux/nlconf-cli.schema.json"
[[ $(tar -tzf "$dist/$linux.tar.gz" | tr '\n' ' ') == "$(echo $expected) " ]] ||
  fail "the tarball holds $(tar -tzf "$dist/$linux.tar.gz" | tr '\n' ' ')"
stamp=$(date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')
tar --full-time -tvzf "$dist/$linux.tar.gz" | awk -v stamp="$stamp" \
  '$2 != "0/0" || $4 " " $5 != stamp { bad = 1; print "package: " $0 } END { exit bad }' ||
  fail "the tarball's files are not root's and dated $stamp (the commit)"

info=$(dpkg-deb --info "$deb")
for field in "Package: nlconf-cli" "Version: $version" "Architecture: amd64" \
  "Depends: $(libc_depends)"; do
  grep -qxF " $field" <<<"$info" || fail "the package's control lacks \"$field\""
done
contents=$(dpkg-deb --contents "$deb" | awk '{ print $1, $2, $6 }')
for entry in "-rwxr-xr-x root/root ./usr/bin/nlconf-cli" \
  "-rw-r--r-- root/root ./usr/share/man/man1/nlconf-cli.1.gz" \
  "-rw-r--r-- root/root ./usr/share/bash-completion/completions/nlconf-cli" \
  "-rw-r--r-- root/root ./usr/share/doc/nlconf-cli/README.md" \
  "-rw-r--r-- root/root ./usr/share/doc/nlconf-cli/nlconf-cli.schema.json" \
  "-rw-r--r-- root/root ./usr/share/doc/nlconf-cli/copyright" \
  "-rw-r--r-- root/root ./usr/share/doc/nlconf-cli/changelog.gz" \
  "-rw-r--r-- root/root ./usr/share/doc/nlconf-cli/examples/profile.ini"; do
  grep -qxF -- "$entry" <<<"$contents" || fail "the package lacks $entry"
done
dpkg-deb -x "$deb" "$check/root"
"$check/root/usr/bin/nlconf-cli" --version | grep -qx "nlconf-cli $version" ||
  fail "the package's nlconf-cli does not run"
if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$check/root/usr/share/man/man1/nlconf-cli.1.gz" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "the manual page does not render cleanly: $warnings"
fi

[[ -f /usr/share/bash-completion/bash_completion ]] ||
  fail "bash-completion is not installed (scripts/setup.sh installs it)"
# What bash offers after the words given, as the shell would insert it.
complete_words() {
  bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" && shift &&
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" && COMP_POINT=${#COMP_LINE} &&
    _nlconf_cli nlconf-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}" &&
    printf "%s\n" "${COMPREPLY[@]}"' _ "$check/root/usr/share/bash-completion/completions/nlconf-cli" "$@"
}
# What write --set completes is what the program takes: its refusals list
# the keys and each key's entries.
refusal() {
  { "$check/root/usr/bin/nlconf-cli" write "$check/no-port" --role slave --set "$1" 2>&1 >/dev/null ||
    true; } | sed -nE "s/.*its $2 are (.*)\.$/\1/p" | sed 's/, /\n/g'
}
keys=$(refusal "No Such Key=1" settings)
takes=$(while IFS= read -r key; do
  refusal "$key=?" entries | sed "s/^/$key=/"
done <<<"$keys" | LC_ALL=C sort)
offers=$(complete_words nlconf-cli write P --role slave --set "" | sed 's/\\//g' | LC_ALL=C sort)
[[ $(wc -l <<<"$takes") -ge 40 && $offers == "$takes" ]] ||
  fail "write --set completes what the program does not take, or misses some:" \
    "$(diff <(echo "$offers") <(echo "$takes") | tr '\n' ' ')"
# Every port that ports lists, by its device and its by-id name: this
# machine's, and an adapter's as the documented columns give it.
stand_in=$check/stand-in/nlconf-cli
mkdir -p "$check/stand-in"
cat >"$stand_in" <<'EOF'
#!/bin/sh
printf '/dev/ttyUSB0\t/dev/serial/by-id/usb-Bench_QX0001-if00-port0\tUSB Serial\tBench\tQX0001\tuart_bridge\n'
printf '/dev/ttyS0\t-\t-\t-\t-\tserial8250\n'
EOF
chmod +x "$stand_in"
[[ $(complete_words "$stand_in" read "" | LC_ALL=C sort | paste -sd ' ') == \
  "/dev/serial/by-id/usb-Bench_QX0001-if00-port0 /dev/ttyS0 /dev/ttyUSB0" ]] ||
  fail "read completes $(complete_words "$stand_in" read "" | paste -sd ' '), not each listed port"
listed=$("$check/root/usr/bin/nlconf-cli" ports | awk -F '\t' '{ print $1 } $2 != "-" { print $2 }' |
  LC_ALL=C sort)
[[ -z $listed || $(complete_words "$check/root/usr/bin/nlconf-cli" pair "" | LC_ALL=C sort) == "$listed" ]] ||
  fail "pair completes other ports than nlconf-cli ports lists: $(paste -sd ' ' <<<"$listed")"
# Each command and its options, as the program's help names them.
commands=$("$check/root/usr/bin/nlconf-cli" --help | sed -nE 's/^  nlconf-cli ([a-z][a-z-]*).*/\1/p' |
  grep -vx help | LC_ALL=C sort -u)
[[ $(complete_words nlconf-cli "" | grep -v '^-' | grep -vx help | LC_ALL=C sort) == "$commands" ]] ||
  fail "the completion's commands are not the program's: $(echo $commands)"
for command in $commands; do
  listed=$("$check/root/usr/bin/nlconf-cli" help "$command" | sed -n '/^Options:/,/^$/p' |
    awk '$1 ~ /^-/ { print $1 }' | LC_ALL=C sort)
  offered=$(complete_words nlconf-cli "$command" - | grep -vx -- --help | LC_ALL=C sort)
  [[ -n $listed && $offered == "$listed" ]] ||
    fail "$command completes $(echo $offered), its help lists $(echo $listed)"
done
# The manual page lists them too (the channels as a range).
while IFS= read -r key; do
  entries=$(refusal "$key=?" entries | paste -sd , | sed 's/,/, /g')
  [[ $key == Channel ]] || grep -qF -- "$entries" packaging/nlconf-cli.1 ||
    fail "the manual page does not list $key: $entries"
done <<<"$keys"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$check/lintian" 2>&1 ||
    fail "lintian finds errors in $deb: $(grep -v 'root privileges' "$check/lintian")"
fi

# The installer's tables as Windows reads them. The UpgradeCode is the one
# every release has had: another would install beside the old version.
msi_table() {
  msiinfo export "$msi" "$1" | tail -n +4 | tr -d "\r"
}
msi_property() {
  msi_table Property | awk -F '\t' -v name="$1" '$1 == name { print $2 }'
}
[[ $(msi_property ProductVersion) == "$version" ]] || fail "the installer's ProductVersion is not $version"
[[ $(msi_property UpgradeCode) == "{31F8FE51-FC4C-4DCF-A34A-164CDD04E3FE}" ]] ||
  fail "the installer's UpgradeCode changed: $(msi_property UpgradeCode)"
[[ $(msi_property ARPPRODUCTICON) == nlconf.ico ]] && msiinfo streams "$msi" | grep -qx Icon.nlconf.ico ||
  fail "the installer gives Apps & features no icon"
msi_table LaunchCondition | grep -q "A newer version of NLCONF is already installed" ||
  fail "the installer does not refuse a downgrade"
msi_table Environment | grep -qxF $'PathEntry\t=-*PATH\t[~];[INSTALLDIR]\tCommandLine' ||
  fail "the installer does not put its folder on the system PATH"
for action in WriteEnvironmentStrings RemoveEnvironmentStrings CreateShortcuts RemoveExistingProducts \
  SetHelpLink SetInstallLocation; do
  msi_table InstallExecuteSequence | grep -q "^$action"$'\t' || fail "the installer does not run $action"
done
[[ $(msi_table Shortcut | cut -f3 | LC_ALL=C sort | paste -sd,) == "NLCONF,NLCONF user's guide" ]] ||
  fail "the Start menu gets $(msi_table Shortcut | cut -f3 | paste -sd,)"
msiextract -C "$check/msi" "$msi" >/dev/null
installed=$check/msi/NLCONF
cmp -s "$exe" "$installed/nlconf.exe" || fail "the installer's nlconf.exe differs from the build"
cmp -s "$cli_exe" "$installed/nlconf-cli.exe" || fail "the installer's nlconf-cli.exe differs from the build"
cmp -s "$check/$name/guide.html" "$installed/guide.html" || fail "the installer's guide is not the archive's"
diff -r "$check/$name/pictures" "$installed/pictures" >/dev/null || fail "the installer lacks the guide's pictures"
[[ -s $installed/copyright.txt && -s $installed/mingw-w64-runtime.txt ]] || fail "the installer lacks the licence texts"
# Built again elsewhere, the same bytes, so every component keeps its GUID.
(cd "$check" && "$OLDPWD/scripts/make_msi.sh" "$OLDPWD/build/windows" again.msi "$version" >/dev/null)
# Told by what differs: a table, the summary (times, package code), a stream.
# A table's binary cells are written out as files: into the check's folder.
msi_parts() {
  local table file
  file=$(realpath "$1")
  for table in $(msiinfo tables "$file" | LC_ALL=C sort); do
    printf '== %s\n' "$table"
    (cd "$check" && msiinfo export "$file" "$table" 2>/dev/null)
  done
  msiinfo suminfo "$1"
  msiinfo streams "$1" | LC_ALL=C sort | while read -r stream; do
    printf '== stream %s %s\n' "$stream" "$(msiinfo extract "$1" "$stream" | sha256sum | cut -c1-16)"
  done
}
if ! cmp -s "$msi" "$check/again.msi"; then
  # Both kept for a look, where the test command keeps its logs.
  mkdir -p build/test-logs/installer && cp "$msi" "$check/again.msi" build/test-logs/installer/
  fail "a second build of the installer differs: $(diff <(msi_parts "$msi") \
    <(msi_parts "$check/again.msi") | grep '^[<>]' | head -n 4 | tr '\n\r' '  ')"
fi

echo "package: $archive and $msi hold nlconf.exe, nlconf-cli.exe and the guide with its pictures;" \
  "$dist/$linux.tar.gz and $deb hold nlconf-cli, its manual page, completion and documentation"
