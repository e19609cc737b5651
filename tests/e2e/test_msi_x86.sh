#!/usr/bin/env bash
# The x86 package under Wine's msiexec in a 32-bit prefix, as on 32-bit
# Windows: the launcher where the patcher looks, its uninstall entry, the
# uninstall, and the x64 package refused there. A 32-bit prefix needs wine32:
# on a host that cannot run 32-bit programs the script is skipped and counts
# nothing. Wine's msiexec exit status arrives as the 8-bit Unix status.
. "$(dirname "$0")/lib.sh"
if ! e2e_init_win32_prefix; then
  echo "    skipped: this host cannot run wine32, which a 32-bit prefix needs"
  e2e_finish
  exit
fi
. "$(dirname "$0")/msi_helpers.sh"

WORK=$E2E_WORK/msi-x86
BUILT="$E2E_BIN/TAVU Recovery.exe"
CHECKER="$E2E_BIN/TavuRecoveryCheck.exe"
DIR="$(e2e_c 'Program Files')/TAVU/TAVU Recovery Launcher"

rm -rf "$WORK"
mkdir -p "$WORK"
make_package --arch x86 "$BUILT" "$CHECKER" x86.msi
make_package "$BUILT" "$CHECKER" x64.msi
check "both packages built" test -f "$WORK/x86.msi" -a -f "$WORK/x64.msi"
remove_installed
rm -rf "$DIR"

echo "  x86 package"
msiexec /i "Z:$WORK/x86.msi"
check_eq "install exit code" 0 "$E2E_RC"
check "launcher at C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe" cmp -s "$DIR/TAVU Recovery.exe" "$BUILT"
check "support check beside it" cmp -s "$DIR/TavuRecoveryCheck.exe" "$CHECKER"
check_eq "one product, DisplayVersion 1.0.7" "1.0.7" "$(installed_versions)"
msiexec /x "Z:$WORK/x86.msi"
check_eq "uninstall exit code" 0 "$E2E_RC"
check "launcher and check removed" test ! -e "$DIR/TAVU Recovery.exe" -a ! -e "$DIR/TavuRecoveryCheck.exe"
check_eq "no product left" "" "$(installed)"

echo "  x64 package on 32-bit Windows"
msiexec /i "Z:$WORK/x64.msi"
check_eq "refused (1633, platform not supported, as an 8-bit status)" 97 "$E2E_RC"
check "no launcher installed" test ! -e "$DIR/TAVU Recovery.exe"
check_eq "no product" "" "$(installed)"
e2e_finish
