#!/usr/bin/env bash
# The locator through the real Win32 binding, on Wine: its physical drive 0
# opens but answers no layout and no reads, so every search ends with 5, and
# no mounted volume is labelled Recovery.
. "$(dirname "$0")/lib.sh"
e2e_init

e2e_run 60 "$E2E_TEST_BIN/locator_probe.exe"
check_eq "locator probe exit code" 0 "$E2E_RC"
out=$(tr -d '\r' <"$E2E_WORK/run.log")
line() { printf '%s\n' "$out" | grep -E "^$1=" | tail -n1; }
check_eq "layout query fails: 5, outputs 0" "FindRecoveryPartition=5 disk=0 partition=0" "$(line FindRecoveryPartition)"
check_eq "style of disk 0: layout query fails" "QueryPartitionStyle0=5" "$(line QueryPartitionStyle0)"
check_eq "volume search: 5, outputs reset" "FindRecoveryVolume=5 disk=0 partition=0 root=[]" "$(line FindRecoveryVolume)"
check_eq "no Recovery volume among the drive roots" "FindVolumeRoot=4 root=[]" "$(line FindVolumeRoot)"
check_eq "raw read of drive 0 fails" "OpenDisk0=1 ReadVolumeLabel=5" "$(line OpenDisk0)"
# The run log gathers the lines of earlier runs too: only this run's last one counts.
check "drive strings list whole four-character roots" sh -c \
  '[ "$1" -gt 0 ] && [ $(($1 % 4)) -eq 0 ]' sh "$(line DriveStrings | cut -d= -f2)"
e2e_finish
