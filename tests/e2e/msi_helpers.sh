# Helpers for the package tests, shared by test_msi.sh, test_msi_x86.sh and
# tests/build/check_msi.sh. Source after lib.sh (and its init, for the Wine
# helpers); WORK is the folder the packages are made in.
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# No desktop menu entries on the host for the shortcuts the packages make.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-};winemenubuilder.exe=d"

# make_package [--arch x86] LAUNCHER CHECK OUT.msi [MAKER.wxs]: wixl takes
# sources relative to the folder it runs in.
make_package() { (cd "$WORK" && python3 "$E2E_ROOT/installer/make_msi.py" "$@") >>"$WORK/make.log" 2>&1; }

# maker_fragment FILE: the maker's fragment for the package's folder, as the
# README describes it: FwMode.exe (from WORK) in a 64-bit component.
maker_fragment() {
  cat >"$1" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Fragment>
    <DirectoryRef Id="INSTALLDIR">
      <Component Id="MakerFwMode" Guid="5D0C1E2F-3A4B-4C5D-9E6F-7A8B9C0D1E2F" Win64="yes">
        <File Id="MakerFwModeExe" Name="FwMode.exe" Source="FwMode.exe" KeyPath="yes"/>
      </Component>
    </DirectoryRef>
    <ComponentGroup Id="MakerComponents">
      <ComponentRef Id="MakerFwMode"/>
    </ComponentGroup>
  </Fragment>
</Wix>
EOF
}

msiexec() { e2e_run 180 msiexec "$@" /qn; }

# "ProductCode DisplayVersion" of every installed TAVU Recovery, one a line,
# in the registry view $1 (default /reg:64). The 64-bit package writes its
# entries in the 64-bit view of HKLM\Software, which a 32-bit reg.exe (wine32 in
# a WoW64 prefix) sees only with /reg:64; a 32-bit prefix has one view, and
# Wine's reg.exe there takes /reg:64 as Windows does, without effect.
installed() {
  timeout 60 "$E2E_WINE" reg query "$UNINSTALL" /s "${1:-/reg:64}" </dev/null 2>/dev/null | tr -d '\r' | awk '
    /^HKEY_/ { key = $0; sub(/.*\\/, "", key); name = ""; version = ""; next }
    $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); name = $0 }
    $1 == "DisplayVersion" { version = $3 }
    /^$/ { if (name == "TAVU Recovery") print key, version; name = "" }
    END { if (name == "TAVU Recovery") print key, version }'
}

# The installed products' versions on one line.
installed_versions() { installed "$@" | cut -d' ' -f2 | tr '\n' ' ' | sed 's/ $//'; }

# Packages left by an earlier, interrupted run would take part in the upgrades.
remove_installed() {
  local code
  for code in $({ installed; installed /reg:32; } | cut -d' ' -f1 | sort -u); do msiexec /x "$code"; done
}
