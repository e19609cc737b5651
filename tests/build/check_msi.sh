#!/usr/bin/env bash
# The packages' tables as msiinfo reads them, built from the shipped 32-bit
# programs: what Wine's msiexec does not show (the per-machine Start menu, the
# component bitness flags, the upgrade rows) is checked here, for the x64
# package and the x86 one.
. "$(dirname "$0")/../e2e/lib.sh"
. "$(dirname "$0")/../e2e/msi_helpers.sh"
ROOT=$E2E_ROOT
BIN=$ROOT/build/win32/bin
WORK=$ROOT/build/msi-test
rm -rf "$WORK"
mkdir -p "$WORK"
nl=$'\n'
launcher_size=$(stat -c %s "$BIN/TAVU Recovery.exe")
check_size=$(stat -c %s "$BIN/TavuRecoveryCheck.exe")
for arch in x64 x86; do
  MSI=$WORK/package-$arch.msi
  # Without --arch the package is the x64 one, as before there were two.
  arch_option=
  [ "$arch" = x86 ] && arch_option="--arch x86"
  echo "  $arch package"
  check "$arch: package builds from the win32 programs" sh -c \
    'env -u TAVU_SIGN_PKCS12 python3 "$1/installer/make_msi.py" $5 "$2/TAVU Recovery.exe" "$2/TavuRecoveryCheck.exe" "$3" >"$4" 2>&1' \
    sh "$ROOT" "$BIN" "$MSI" "$WORK/make-$arch.log" "$arch_option"
  check "$arch: unsigned package says so" grep -q 'TAVU_SIGN_PKCS12 is not set, the package is not signed' "$WORK/make-$arch.log"
  # table NAME: its rows without the three header lines, tabs as "|".
  table() { msiinfo export "$MSI" "$1" 2>/dev/null | tr -d '\r' | tail -n +4 | tr '\t' '|' | LC_ALL=C sort; }
  prop() { table Property | sed -n "s/^$1|//p"; }
  if [ "$arch" = x64 ]; then
    # msiextract knows ProgramFilesFolder as "Program Files", the 64-bit one not at all.
    template="x64;1033" folder=ProgramFiles64Folder bits=256 extracted=
    guids="{C2C7F11E-5F4B-4D31-B009-720947CB2E79} {4C2B47D7-8202-4A76-9C2C-EA09B3658B2B} {AA8F485B-3C8E-444B-8DAE-B960FE07B180}"
    conditions=
  else
    template="Intel;1033" folder=ProgramFilesFolder bits=0 extracted="Program Files/"
    guids="{A9936FBA-F927-4A22-AEB5-AA497E907C03} {11DAF975-0CB2-4B36-B56C-CD48E9974CC1} {5CD74E03-5229-4335-8FEA-4DB8C5C9D8BD}"
    conditions="NOT VersionNT64|This TAVU Recovery package is for 32-bit Windows. On 64-bit Windows install the x64 package (TAVU-Recovery-1.0.0.7-x64.msi): this one would put the launcher under \"Program Files (x86)\", where TAVU's tools do not look for it.${nl}"
  fi
  set -- $guids

  check_eq "$arch: ALLUSERS (per-machine)" 1 "$(prop ALLUSERS)"
  check_eq "$arch: ProductName" "TAVU Recovery" "$(prop ProductName)"
  check_eq "$arch: Manufacturer" "TAVU Computer Inc." "$(prop Manufacturer)"
  check_eq "$arch: ProductVersion 1.0.7 from FileVersion 1.0.0.7" 1.0.7 "$(prop ProductVersion)"
  check_eq "$arch: launcher version kept in full" 1.0.0.7 "$(prop TAVU_LAUNCHER_VERSION)"
  check_eq "$arch: fixed upgrade code" "{F1852285-EB7A-48C7-A524-12F24BC7A84F}" "$(prop UpgradeCode)"
  check "$arch: template $template" sh -c 'msiinfo suminfo "$1" | grep -qxF "Template: $2"' sh "$MSI" "$template"
  # On its own Windows, each package's folder is "C:\Program Files".
  check_eq "$arch: folders: $folder\\TAVU\\TAVU Recovery Launcher and the Start menu" \
    "INSTALLDIR|TAVUFOLDER|TAVU Recovery Launcher${nl}$folder|TARGETDIR|.${nl}ProgramMenuFolder|TARGETDIR|.${nl}TARGETDIR||SourceDir${nl}TAVUFOLDER|$folder|TAVU" \
    "$(table Directory)"
  check_eq "$arch: files: the two programs with their versions, nothing else" \
    "CheckExe|SupportCheck|TavuRecoveryCheck.exe|$check_size|1.0.0.7|1033|512|2${nl}LauncherExe|Launcher|TAVU Recovery.exe|$launcher_size|1.0.0.7|1033|512|1" \
    "$(table File)"
  check_eq "$arch: no hashes for versioned files" "" "$(table MsiFileHash)"
  check "$arch: no FwMode.exe in the package" sh -c '! msiextract -l "$1" | grep -qi fwmode' sh "$MSI"
  check_eq "$arch: extracted files" "${extracted}TAVU/TAVU Recovery Launcher/TAVU Recovery.exe${nl}${extracted}TAVU/TAVU Recovery Launcher/TavuRecoveryCheck.exe" \
    "$(msiextract -l "$MSI" | LC_ALL=C sort)"
  # A component GUID names one set of resources of one bitness: installed
  # machines hold the x64 ones, the x86 components have their own.
  check "$arch: components of the package's bitness (attribute $bits), each with its GUID" sh -c \
    'printf "%s\n" "$1" | grep -qxF "Launcher|$2|INSTALLDIR|$5||LauncherExe" &&
     printf "%s\n" "$1" | grep -qxF "SupportCheck|$3|INSTALLDIR|$5||CheckExe" &&
     printf "%s\n" "$1" | grep -qx "StartMenuShortcut|$4|ProgramMenuFolder|$(($5 + 4))||reg[0-9A-F]*" &&
     [ "$(printf "%s\n" "$1" | wc -l)" -eq 3 ]' sh "$(table Component)" "$1" "$2" "$3" "$bits"
  # A shortcut is advertised when its target is a feature; ours is a path.
  check_eq "$arch: one shortcut, not advertised, to the installed launcher" \
    "LauncherShortcut|ProgramMenuFolder|TAVU Recovery|StartMenuShortcut|[INSTALLDIR]TAVU Recovery.exe||Start the TAVU recovery|||||INSTALLDIR||||" \
    "$(table Shortcut)"
  check_eq "$arch: upgrade rows: older and same versions replaced, a newer one detected" \
    "{F1852285-EB7A-48C7-A524-12F24BC7A84F}|1.0.7|||2||WIX_DOWNGRADE_DETECTED${nl}{F1852285-EB7A-48C7-A524-12F24BC7A84F}||1.0.7||513||WIX_UPGRADE_DETECTED" \
    "$(table Upgrade)"
  check_eq "$arch: a newer product refuses the install${conditions:+; 64-bit Windows refuses the x86 package}" \
    "${conditions}NOT WIX_DOWNGRADE_DETECTED|A newer version of TAVU Recovery is already installed." \
    "$(table LaunchCondition)"
  # The support check's event source (its message file REG_EXPAND_SZ), and an
  # uninstall that takes the source and what /record left with it.
  source='SYSTEM\CurrentControlSet\Services\EventLog\Application\TAVU Recovery Check'
  check_eq "$arch: the check's event source registered, removed with the record" \
    "2|$source|-||SupportCheck${nl}2|$source|EventMessageFile|#%[#CheckExe]|SupportCheck${nl}2|$source|TypesSupported|#7|SupportCheck${nl}2|Software\TAVU\RecoveryCheck|-||SupportCheck${nl}2|Software\TAVU\TAVU Recovery Launcher|StartMenuShortcut|#1|StartMenuShortcut" \
    "$(table Registry | cut -d'|' -f2- | LC_ALL=C sort)"
  check "$arch: old product removed before the new one is installed" sh -c \
    'printf "%s\n" "$1" | grep -q "^RemoveExistingProducts||1401$" && printf "%s\n" "$1" | grep -q "^InstallInitialize||1500$"' \
    sh "$(table InstallExecuteSequence)"
done

# A maker's fragment written for the other package's bitness.
cp "$BIN/TavuRecoveryCheck.exe" "$WORK/FwMode.exe"
maker_fragment "$WORK/maker-x64.wxs"
(cd "$WORK" && env -u TAVU_SIGN_PKCS12 python3 "$ROOT/installer/make_msi.py" --arch x86 "$BIN/TAVU Recovery.exe" \
  "$BIN/TavuRecoveryCheck.exe" maker-x86.msi maker-x64.wxs >maker.log 2>&1)
check "x86 package with a 64-bit maker's component refused, naming it, and no package" sh -c \
  'test "$1" -ne 0 && grep -qxF "make_msi: component MakerFwMode is 64-bit in the x86 package (Win64=\"no\" is wanted)" "$2/maker.log" &&
   test ! -e "$2/maker-x86.msi"' sh "$?" "$WORK"

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
