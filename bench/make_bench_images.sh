#!/bin/sh
# make_bench_images.sh DIR
#
# Two sparse 64 GiB disk images made by the real tools:
#   fat32-64g.img  MBR, one partition of type 0x1c over the disk, FAT32
#                  labelled RECOVERY by mkfs.fat with its default cluster size;
#   ntfs-64g.img   GPT notebook: EFI system (FAT32), Microsoft reserved,
#                  Windows (NTFS, 63 GiB) and the recovery partition (NTFS
#                  labelled Recovery, 1 GiB, type code 2700).
# Exit status 77 with "missing tool: NAME" when a tool is not installed.
set -eu
PATH="$PATH:/usr/sbin:/sbin"
export PATH
for tool in sgdisk sfdisk mkfs.fat mkfs.ntfs python3 truncate; do
  command -v "$tool" >/dev/null 2>&1 || { echo "missing tool: $tool" >&2; exit 77; }
done
dir=$1
mkdir -p "$dir"
cd "$dir"

# Copies the data of a sparse file into an image at a byte offset, skipping
# its holes (a plain dd would read all 63 GiB of them).
place() {
  python3 - "$1" "$2" "$3" <<'PY'
import os, sys
src, dst, off = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(src, "rb") as s, open(dst, "r+b") as d:
    fd = s.fileno()
    size = os.fstat(fd).st_size
    pos = 0
    while pos < size:
        try:
            data = os.lseek(fd, pos, os.SEEK_DATA)
        except OSError:
            break
        hole = os.lseek(fd, data, os.SEEK_HOLE)
        s.seek(data)
        d.seek(off + data)
        left = hole - data
        while left:
            chunk = s.read(min(left, 1 << 20))
            d.write(chunk)
            left -= len(chunk)
        pos = hole
PY
}

if [ ! -f fat32-64g.img ]; then
  rm -f fat32.tmp
  truncate -s 64G fat32.tmp
  printf 'label: dos\nstart=2048, type=1c\n' | sfdisk -q fat32.tmp
  sectors=$(( (64 * 1024 * 1024 * 1024) / 512 - 2048 ))
  mkfs.fat -F 32 -n RECOVERY --offset=2048 fat32.tmp $((sectors / 2)) >/dev/null
  mv fat32.tmp fat32-64g.img
fi

if [ ! -f ntfs-64g.img ]; then
  rm -f ntfs.tmp part.tmp
  truncate -s 64G ntfs.tmp
  sgdisk -o -n 1:2048:+100M -t 1:ef00 -n 2:0:+16M -t 2:0c01 -n 3:0:-1G -t 3:0700 -n 4:0:0 -t 4:2700 \
    ntfs.tmp >/dev/null
  start() { sgdisk -i "$1" ntfs.tmp | sed -n 's/^First sector: \([0-9]*\).*/\1/p'; }
  last() { sgdisk -i "$1" ntfs.tmp | sed -n 's/^Last sector: \([0-9]*\).*/\1/p'; }
  s1=$(start 1); e1=$(last 1); s3=$(start 3); e3=$(last 3); s4=$(start 4); e4=$(last 4)
  mkfs.fat -F 32 -n SYSTEM --offset="$s1" ntfs.tmp $(((e1 - s1 + 1) / 2)) >/dev/null 2>&1
  for p in "3 $s3 $e3 Windows" "4 $s4 $e4 Recovery"; do
    set -- $p
    rm -f part.tmp
    truncate -s $((($3 - $2 + 1) * 512)) part.tmp
    mkfs.ntfs -F -Q -q -L "$4" -p "$2" -H 255 -S 63 part.tmp >/dev/null 2>&1
    place part.tmp ntfs.tmp $(($2 * 512))
  done
  rm -f part.tmp
  mv ntfs.tmp ntfs-64g.img
fi
