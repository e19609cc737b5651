#!/bin/sh
# The fuzz targets, one a line: the name (after fuzz_) and where its seeds come
# from (a program of the fuzz build that writes them, or a checked-in folder).
cd "$(dirname "$0")/../.."
echo "disk_image build/fuzz/tests/fuzz/fuzz_make_seeds"
echo "pe_version build/fuzz/tests/fuzz/fuzz_make_pe_seeds"
echo "version tests/fuzz/seeds/version"
echo "command_line tests/fuzz/seeds/command_line"
echo "boot_listing tests/fuzz/seeds/boot_listing"
echo "reagent_xml tests/fuzz/seeds/reagent_xml"
echo "journal tests/fuzz/seeds/journal"
