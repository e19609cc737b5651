#!/usr/bin/env bash
# The package's tables as msiinfo reads them, built from the shipped 32-bit
# programs: what Wine's msiexec does not show (the per-machine Start menu, the
# 64-bit component flags, the upgrade rows) is checked here.
. "$(dirname "$0")/../e2e/lib.sh"
ROOT=$E2E_ROOT
BIN=$ROOT/build/win32/bin
WORK=$ROOT/build/msi-test
rm -rf "$WORK"
mkdir -p "$WORK"
MSI=$WORK/package.msi
check "package builds from the win32 programs" sh -c \
  'env -u TAVU_SIGN_PKCS12 python3 "$1/installer/make_msi.py" "$2/TAVU Recovery.exe" "$2/TavuRecoveryCheck.exe" "$3" >"$4" 2>&1' \
  sh "$ROOT" "$BIN" "$MSI" "$WORK/make.log"
check "unsigned package says so" grep -q 'TAVU_SIGN_PKCS12 is not set, the package is not signed' "$WORK/make.log"
# table NAME: its rows without the three header lines, tabs as "|".
table() { msiinfo export "$MSI" "$1" 2>/dev/null | tr -d '\r' | tail -n +4 | tr '\t' '|' | sort; }
prop() { table Property | sed -n "s/^$1|//p"; }
nl=$'\n'

check_eq "ALLUSERS (per-machine)" 1 "$(prop ALLUSERS)"
check_eq "ProductName" "TAVU Recovery" "$(prop ProductName)"
check_eq "Manufacturer" "TAVU Computer Inc." "$(prop Manufacturer)"
check_eq "ProductVersion 1.0.7 from FileVersion 1.0.0.7" 1.0.7 "$(prop ProductVersion)"
check_eq "launcher version kept in full" 1.0.0.7 "$(prop TAVU_LAUNCHER_VERSION)"
check_eq "fixed upgrade code" "{F1852285-EB7A-48C7-A524-12F24BC7A84F}" "$(prop UpgradeCode)"
check "64-bit package" sh -c 'msiinfo suminfo "$1" | grep -qx "Template: x64;1033"' sh "$MSI"
check_eq "folders: Program Files (64-bit)\\TAVU\\TAVU Recovery Launcher and the Start menu" \
  "INSTALLDIR|TAVUFOLDER|TAVU Recovery Launcher${nl}ProgramFiles64Folder|TARGETDIR|.${nl}ProgramMenuFolder|TARGETDIR|.${nl}TARGETDIR||SourceDir${nl}TAVUFOLDER|ProgramFiles64Folder|TAVU" \
  "$(table Directory)"
launcher_size=$(stat -c %s "$BIN/TAVU Recovery.exe")
check_size=$(stat -c %s "$BIN/TavuRecoveryCheck.exe")
check_eq "files: the two programs with their versions, nothing else" \
  "CheckExe|SupportCheck|TavuRecoveryCheck.exe|$check_size|1.0.0.7|1033|512|2${nl}LauncherExe|Launcher|TAVU Recovery.exe|$launcher_size|1.0.0.7|1033|512|1" \
  "$(table File)"
check_eq "no hashes for versioned files" "" "$(table MsiFileHash)"
check "no FwMode.exe in the package" sh -c '! msiextract -l "$1" | grep -qi fwmode' sh "$MSI"
check_eq "extracted files" "TAVU/TAVU Recovery Launcher/TAVU Recovery.exe${nl}TAVU/TAVU Recovery Launcher/TavuRecoveryCheck.exe" \
  "$(msiextract -l "$MSI" | sort)"
check "components are 64-bit (attribute 256) in INSTALLDIR" sh -c \
  'printf "%s\n" "$1" | grep -q "^Launcher|{C2C7F11E-5F4B-4D31-B009-720947CB2E79}|INSTALLDIR|256||LauncherExe$" &&
   printf "%s\n" "$1" | grep -q "^SupportCheck|{4C2B47D7-8202-4A76-9C2C-EA09B3658B2B}|INSTALLDIR|256||CheckExe$"' sh "$(table Component)"
# A shortcut is advertised when its target is a feature; ours is a path.
check_eq "one shortcut, not advertised, to the installed launcher" \
  "LauncherShortcut|ProgramMenuFolder|TAVU Recovery|StartMenuShortcut|[INSTALLDIR]TAVU Recovery.exe||Start the TAVU recovery|||||INSTALLDIR||||" \
  "$(table Shortcut)"
check_eq "upgrade rows: older and same versions replaced, a newer one detected" \
  "{F1852285-EB7A-48C7-A524-12F24BC7A84F}|1.0.7|||2||WIX_DOWNGRADE_DETECTED${nl}{F1852285-EB7A-48C7-A524-12F24BC7A84F}||1.0.7||513||WIX_UPGRADE_DETECTED" \
  "$(table Upgrade)"
check_eq "a newer product refuses the install" "NOT WIX_DOWNGRADE_DETECTED|A newer version of TAVU Recovery is already installed." \
  "$(table LaunchCondition)"
check "old product removed before the new one is installed" sh -c \
  'printf "%s\n" "$1" | grep -q "^RemoveExistingProducts||1401$" && printf "%s\n" "$1" | grep -q "^InstallInitialize||1500$"' \
  sh "$(table InstallExecuteSequence)"

# version_copy NAME A.B.C.D: a copy of the built launcher whose FileVersion says so.
version_copy() {
  python3 - "$BIN/TAVU Recovery.exe" "$WORK/$1.exe" "$2" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], "rb").read())
a, b, c, e = map(int, sys.argv[3].split("."))
i = d.find(struct.pack("<I", 0xFEEF04BD))
struct.pack_into("<II", d, i + 8, a << 16 | b, c << 16 | e)
open(sys.argv[2], "wb").write(d)
PY
}
# package_of_version A.B.C.D: v<version>.msi from such a launcher, messages in v<version>.log.
package_of_version() {
  version_copy "v$1" "$1"
  env -u TAVU_SIGN_PKCS12 python3 "$ROOT/installer/make_msi.py" "$WORK/v$1.exe" "$BIN/TavuRecoveryCheck.exe" \
    "$WORK/v$1.msi" >"$WORK/v$1.log" 2>&1
}
product_version_of() { msiinfo export "$WORK/v$1.msi" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p'; }

# A launcher release that changes only the last field still orders as newer.
package_of_version 1.0.1.12
check_eq "FileVersion 1.0.1.12 gives ProductVersion 1.0.1012" 1.0.1012 "$(product_version_of 1.0.1.12)"
package_of_version 1.0.65.535
check_eq "FileVersion 1.0.65.535 gives ProductVersion 1.0.65535, the largest build field" 1.0.65535 \
  "$(product_version_of 1.0.65.535)"
# Beyond a field's limit Windows Installer compares versions wrongly; a fourth
# field above 999 would take the product version of a later release.
for refused in "1.0.65.536|build field 65 * 1000 + 536 = 65536 is above the limit 65535" \
  "1.0.65.600|build field 65 * 1000 + 600 = 65600 is above the limit 65535" \
  "1.0.0.1000|fourth field 1000 is above the limit 999"; do
  v=${refused%%|*}
  package_of_version "$v"
  check "FileVersion $v refused, naming the version and the limit, and no package" sh -c \
    'test "$1" -ne 0 && grep -qxF "$2" "$3" && test ! -e "$4"' sh "$?" \
    "make_msi: launcher version $v does not fit a Windows Installer product version: its ${refused#*|}" \
    "$WORK/v$v.log" "$WORK/v$v.msi"
done
e2e_finish
