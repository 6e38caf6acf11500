# shellcheck shell=bash
# The installer as IT deploys it: installed silently; the installed program
# reads a module; nlconf-cli.exe found through PATH by a fresh cmd; a newer
# package upgrades in place and an older one is refused; the removal takes
# every installed file, the shortcuts and the PATH entry, and leaves the
# user's settings file and what the program remembers.

JR_INSTALLED="$WINEPREFIX/drive_c/Program Files/NLCONF"
JR_ENVIRONMENT_KEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
JR_UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# jr_wine PROGRAM ARGS...: one of Wine's own programs, its output without CRs.
# No menu entries on the host for the shortcuts made.
jr_wine() {
  (
    rig__close_driver
    loader=$(rig__loader)
    [[ $loader == */wine64 ]] && export WINELOADER=$loader
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" WINEDEBUG=-all \
      timeout 120 "$loader" "$@"
  ) </dev/null 2>>"$RIG_LOGS/wine-programs.err" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# msiexec's exit status (Wine gives its low byte: 1603 is 67), its log kept.
jr_msiexec() {
  local log=$1
  shift
  jr_wine msiexec.exe "$@" /qn /l*v "Z:$RIG_LOGS/$log.log" >/dev/null
}

# The installed product as Apps & features lists it: name, version, publisher.
jr_listed() {
  jr_wine reg.exe query "$JR_UNINSTALL_KEY" /s |
    awk '/^HKEY/ { key = $0 } $1 == "DisplayName" && $3 == "NLCONF" { found[key] = 1 }
      $1 == "DisplayVersion" { version[key] = $3 } $1 == "Publisher" { sub(/^ *Publisher +REG_SZ +/, ""); publisher[key] = $0 }
      END { for (k in found) print "NLCONF", version[k], publisher[k] }'
}

# How often the system PATH names the installed folder.
jr_path_entries() {
  # shellcheck disable=SC1003 # a Windows path, backslashes and all
  jr_wine reg.exe query "$JR_ENVIRONMENT_KEY" /v PATH | grep -oF 'C:\Program Files\NLCONF\' | wc -l
}

# The shortcuts in whichever Start menu Wine gives an all-users install.
jr_shortcuts() {
  find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/NLCONF*.lnk' -printf '%f\n' | LC_ALL=C sort
}

jr_installed_files() {
  [[ -d $JR_INSTALLED ]] && (cd "$JR_INSTALLED" && find . -type f -printf '%P\n' | LC_ALL=C sort)
}

# shellcheck disable=SC2154 # here and windows: the harness's
journey_installer() {
  local version next older newer
  # The version of the build under test.
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows/CMakeCache.txt")
  next=${version%.*}.$((${version##*.} + 1))
  older=$RIG_WORK/NLCONF-$version-win64.msi
  newer=$RIG_WORK/NLCONF-$next-win64.msi
  if ! "$here/../scripts/make_msi.sh" "$windows" "$older" "$version" >"$RIG_LOGS/make_msi.out" 2>&1 ||
    ! "$here/../scripts/make_msi.sh" "$windows" "$newer" "$next" >>"$RIG_LOGS/make_msi.out" 2>&1; then
    fail installers-made "$(tail -n 3 "$RIG_LOGS/make_msi.out" | tr '\n' '|')"
    return
  fi

  jr_msiexec install /i "$older"
  expect install-succeeds 0 $?
  expect program-files-installed "copyright.txt
guide.html
mingw-w64-runtime.txt
nlconf-cli.exe
nlconf.exe
$(cd "$here/../docs" && find pictures -name '*.png' | LC_ALL=C sort)" "$(jr_installed_files)"
  expect start-menu-shortcuts $'NLCONF user\'s guide.lnk\nNLCONF.lnk' "$(jr_shortcuts)"
  expect listed-with-version-and-publisher "NLCONF $version The NLCONF developers" "$(jr_listed)"
  expect_match listed-with-the-guide-as-help 'HelpLink +REG_SZ +C:\\Program Files\\NLCONF\\guide\.html' \
    "$(jr_wine reg.exe query "$JR_UNINSTALL_KEY" /s | grep HelpLink)"
  expect folder-on-the-system-path 1 "$(jr_path_entries)"
  expect_match cli-found-through-path-by-a-fresh-cmd "^nlconf-cli $version$" \
    "$(jr_wine cmd.exe /c nlconf-cli.exe --version)"

  # The installed copy, run as a user runs it, reads a module.
  JR_NLCONF_EXE="$JR_INSTALLED/nlconf.exe" jr_begin 5=master:d6=1 6=slave || return
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  drv click 3001 >/dev/null
  expect installed-program-reads "done" "$(jr_outcome 20000)"
  expect installed-program-shows-the-module "3008 9600" "$(jr_pane_values 3000 | grep '^3008 ')"
  jr_exit_with installed-program-exits-with-0 drv click 1
  local settings="$WINEPREFIX/drive_c/users/Public/Documents/NLCONF settings/bench 1.ini"
  mkdir -p "${settings%/*}" && printf '[Master]\r\nChannel=15\r\n' >"$settings"

  jr_msiexec upgrade /i "$newer"
  expect upgrade-succeeds 0 $?
  expect upgrade-leaves-one-entry-of-the-new-version "NLCONF $next The NLCONF developers" "$(jr_listed)"
  expect upgrade-keeps-one-path-entry 1 "$(jr_path_entries)"
  expect upgrade-keeps-the-program "nlconf.exe" "$(jr_installed_files | grep -x nlconf.exe)"
  jr_msiexec downgrade /i "$older"
  expect_match downgrade-refused '^[1-9]' "$?"
  expect downgrade-leaves-the-new-version "NLCONF $next The NLCONF developers" "$(jr_listed)"

  jr_msiexec remove /x "$newer"
  expect removal-succeeds 0 $?
  expect removal-takes-every-file "" "$(jr_installed_files)$([[ -d $JR_INSTALLED ]] && echo ' (folder left)')"
  expect removal-takes-the-shortcuts "" "$(jr_shortcuts)"
  expect removal-takes-the-path-entry 0 "$(jr_path_entries)"
  expect removal-takes-the-listing "" "$(jr_listed)"
  expect removal-leaves-the-settings-file yes "$([[ -s $settings ]] && echo yes)"
  expect_match removal-leaves-what-the-program-remembers 'Slave Port +REG_DWORD +0x6' \
    "$(jr_wine reg.exe query 'HKCU\Software\NLCONF' /v 'Slave Port')"
}
