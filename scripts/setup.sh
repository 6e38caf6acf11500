#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need
# and this machine lacks. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev clang-format ccache
  g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth imagemagick
  # Wine's own fonts: the captions' minimise, maximise and close glyphs
  fonts-wine
  # the fault campaign's and the fuzz targets' build, and line coverage
  clang libclang-rt-14-dev llvm-14
  # the release archive and its guide in HTML
  zip unzip python3 python3-markdown
  # the Windows installer, made and read back (faketime: at the commit's time)
  wixl msitools faketime
  # the check of every --json output against its schema, and of the manual
  # page's width as man shows it
  python3-jsonschema man-db
  # the Debian package's check: its completion is tried in bash as installed,
  # and read by shellcheck
  bash-completion shellcheck
  # a Japanese gothic font, for the dialogs' texts as a Japanese system draws them
  fonts-ipafont-gothic fontconfig
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
