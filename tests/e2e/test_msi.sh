#!/usr/bin/env bash
# The TAVU Recovery packages under Wine's msiexec in a 64-bit prefix, as on
# 64-bit Windows: where the x64 package puts the launcher, what the installed
# launcher and the patcher then do, upgrades, the refusal of an older package,
# what an uninstall leaves, and the refusal of the x86 package
# (tests/e2e/test_msi_x86.sh installs that one on 32-bit Windows).
#
# What Wine's msiexec does not do as Windows does, and how the cases allow for it:
# - It puts ProgramMenuFolder in the user's Start menu even in a per-machine
#   install; the shortcut is looked for in both menus, and the package's own
#   tables (ALLUSERS=1) are checked in tests/build/check_msi.sh.
# - It leaves the emptied "C:\Program Files\TAVU" folder behind after an
#   uninstall; only the package's own folder is required to go.
# - Its exit status reaches us through the 8-bit Unix status: a refused
#   install (1603, ERROR_INSTALL_FAILURE) arrives as 67.
. "$(dirname "$0")/lib.sh"
e2e_init
. "$(dirname "$0")/msi_helpers.sh"

WORK=$E2E_WORK/msi
BUILT="$E2E_BIN/TAVU Recovery.exe"
CHECKER="$E2E_BIN/TavuRecoveryCheck.exe"
PATCHER="$E2E_BIN/TvPatchDowngrade.exe"
DIR_WIN='C:\Program Files\TAVU\TAVU Recovery Launcher'
DIR="$(e2e_c 'Program Files')/TAVU/TAVU Recovery Launcher"
TARGET="$DIR/TAVU Recovery.exe"
PATCH_LOG=$(e2e_c Windows/Temp/TvPatchDowngrade.log)
LAUNCHER_LOG=$(e2e_c 'Windows/Temp/TAVU F9 Recovery.log')

rm -rf "$WORK"
mkdir -p "$WORK"

# The current package carries the stand-in FwMode.exe the way a maker adds
# theirs: a fragment for the same folder (README). wixl takes sources relative
# to the folder it runs in.
cp "$E2E_TEST_BIN/FwMode.exe" "$WORK/FwMode.exe"
maker_fragment "$WORK/maker.wxs"
V6=$(e2e_launcher_of_version "$WORK" 1.0.0.6)
V10=$(e2e_launcher_of_version "$WORK" 1.0.0.10)
make_package "$BUILT" "$CHECKER" current.msi maker.wxs
make_package "$V6" "$CHECKER" older.msi
make_package "$V10" "$CHECKER" newer.msi
make_package --arch x86 "$BUILT" "$CHECKER" x86.msi
check "four packages built" test -f "$WORK/current.msi" -a -f "$WORK/older.msi" -a -f "$WORK/newer.msi" -a -f "$WORK/x86.msi"

shortcut() {
  local menu
  for menu in 'ProgramData/Microsoft/Windows/Start Menu/Programs' \
    "users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"; do
    find "$(e2e_c "$menu")" -maxdepth 1 -name 'TAVU Recovery.lnk' 2>/dev/null
  done | head -n1
}
patch_log() {
  [ -f "$PATCH_LOG" ] || return 0
  tail -c +3 "$PATCH_LOG" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
    sed -E 's/^\[[0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\]\t//; s/\t/|/'
}

remove_installed
rm -rf "$DIR"

echo "  older package 1.0.0.6"
msiexec /i "Z:$WORK/older.msi"
check_eq "install exit code" 0 "$E2E_RC"
check "launcher installed at the patcher's path" cmp -s "$TARGET" "$V6"
check_eq "one product, version 1.0.6" "1.0.6" "$(installed_versions)"

echo "  patcher on the machine with the older package"
rm -f "$PATCH_LOG"
e2e_run 120 "$PATCHER"
check_eq "patcher exit code" 0 "$E2E_RC"
check "patcher replaced the installed launcher with its own" cmp -s "$TARGET" "$BUILT"
check "patcher log: found it, older, copied" sh -c \
  'printf "%s\n" "$1" | tail -n2 | tr "\n" "~" | grep -qx "\[FixDowngarde\]|Find TAVU Recovery~\[FixDowngarde\]|File version is older, copy file~"' \
  sh "$(patch_log)"

echo "  current package over the older one"
msiexec /i "Z:$WORK/current.msi"
check_eq "install exit code" 0 "$E2E_RC"
check "launcher is the built one" cmp -s "$TARGET" "$BUILT"
check "support check beside it" cmp -s "$DIR/TavuRecoveryCheck.exe" "$CHECKER"
check "maker's FwMode.exe in the same folder" cmp -s "$DIR/FwMode.exe" "$WORK/FwMode.exe"
check_eq "the older product was replaced: one product, version 1.0.7" "1.0.7" \
  "$(installed_versions)"
lnk=$(shortcut)
check "Start-menu shortcut \"TAVU Recovery\"" test -n "$lnk"
check "shortcut names the installed launcher" sh -c \
  '{ strings -a "$1"; strings -a -el "$1"; } | grep -qiF "TAVU Recovery Launcher\\TAVU Recovery.exe"' sh "${lnk:-/dev/null}"
# Without it, the removal of the key below would also pass in a view the package never wrote.
check "the shortcut's key path: StartMenuShortcut=1 in the 64-bit view" sh -c \
  'timeout 60 "$1" reg query "HKLM\\Software\\TAVU\\TAVU Recovery Launcher" /v StartMenuShortcut /reg:64 </dev/null 2>/dev/null |
   tr -d "\r" | grep -Eq "^ +StartMenuShortcut +REG_DWORD +0x1$"' sh "$E2E_WINE"

echo "  the installed launcher"
e2e_start_scheduler
task="$(e2e_c 'Windows/System32/Tasks')/TAVU F9 Recovery"
rm -f "$task" "$DIR/FwMode.runs.txt" "$LAUNCHER_LOG"
e2e_vendor "TAVU Computer Inc." timeout 60 "$E2E_WINE" "$DIR_WIN\\TAVU Recovery.exe" /ENABLE </dev/null >>"$E2E_WORK/run.log" 2>&1
check_eq "/ENABLE exit code" 0 "$?"
check "/ENABLE registered the task" test -f "$task"
check_eq "/ENABLE ran the maker's tool in the installed folder" "/enable|$DIR_WIN" "$(cat "$DIR/FwMode.runs.txt" 2>/dev/null)"
rm -f "$task"

echo "  the check's event source and its record"
SOURCE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\TAVU Recovery Check'
# reg_has KEY VALUE ERE: reg.exe (the 64-bit view) shows the value, its type and data matching ERE.
reg_has() {
  timeout 60 "$E2E_WINE" reg query "$1" /v "$2" /reg:64 </dev/null 2>/dev/null | tr -d '\r' | grep -Eq "^ +$2 +$3\$"
}
check "the event source's message file is the installed check" \
  reg_has "$SOURCE_KEY" EventMessageFile 'REG_EXPAND_SZ +C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TavuRecoveryCheck\.exe'
check "the event source takes information, warnings and errors" reg_has "$SOURCE_KEY" TypesSupported 'REG_DWORD +0x7'
e2e_vendor "TAVU Computer Inc." timeout 120 "$E2E_WINE" "$DIR_WIN\\TavuRecoveryCheck.exe" /summary /record \
  </dev/null >"$WORK/summary.txt" 2>>"$E2E_WORK/run.log"
check_eq "the installed check: /summary /record exit code 1 (Wine cannot read the disk)" 1 "$?"
check "its record is there to be removed" reg_has 'HKLM\SOFTWARE\TAVU\RecoveryCheck' Verdict 'REG_SZ +abort'

echo "  uninstall"
msiexec /x "Z:$WORK/current.msi"
check_eq "uninstall exit code" 0 "$E2E_RC"
check "launcher, check and FwMode.exe removed" test ! -e "$TARGET" -a ! -e "$DIR/TavuRecoveryCheck.exe" -a ! -e "$DIR/FwMode.exe"
check "a file the package did not install stays" test -f "$DIR/FwMode.runs.txt"
check "the launcher's log under C:\\Windows\\Temp stays" test -s "$LAUNCHER_LOG"
check_eq "shortcut removed" "" "$(shortcut)"
check_eq "no product left" "" "$(installed)"
timeout 60 "$E2E_WINE" reg query 'HKLM\Software\TAVU' /reg:64 </dev/null >/dev/null 2>&1
check "its registry key removed" test $? -ne 0
timeout 60 "$E2E_WINE" reg query "$SOURCE_KEY" /reg:64 </dev/null >/dev/null 2>&1
check "the check's event source removed" test $? -ne 0
rm -rf "$DIR"

echo "  older package over a newer one"
msiexec /i "Z:$WORK/newer.msi"
check_eq "newer package installs" 0 "$E2E_RC"
msiexec /i "Z:$WORK/current.msi"
check_eq "older package refused (1603 as an 8-bit status)" 67 "$E2E_RC"
check "newer launcher left in place" cmp -s "$TARGET" "$V10"
check_eq "still only the newer product" "1.0.10" "$(installed_versions)"
msiexec /x "Z:$WORK/newer.msi"
check_eq "newer package uninstalls" 0 "$E2E_RC"
check "its folder is gone" test ! -e "$DIR"

# The x86 package would put the launcher where the patcher never looks.
echo "  x86 package on 64-bit Windows"
msiexec /i "Z:$WORK/x86.msi"
check_eq "refused (1603 as an 8-bit status)" 67 "$E2E_RC"
check "no launcher folder under Program Files or Program Files (x86)" \
  test ! -e "$DIR" -a ! -e "$(e2e_c 'Program Files (x86)')/TAVU/TAVU Recovery Launcher"
check_eq "no product in either registry view" "" "$(installed)$(installed /reg:32)"
e2e_finish
