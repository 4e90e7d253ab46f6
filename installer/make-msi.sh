#!/usr/bin/env bash
# Builds the Windows Installer package from a staged folder (installer/CMakeLists.txt stages it):
#   make-msi.sh STAGE VERSION OUT.msi
# STAGE holds files/ (the install folder), Corvane.wxs, corvane.ico and corvane-msi-actions.dll; wixl reads
# its sources relative to the folder it runs in.
set -euo pipefail
stage=$1
version=$2
out=$(realpath -m "$3")
cd "$stage"
rm -f "$out"
wixl -a x64 -D Version="$version" -o "$out" Corvane.wxs
# wixl leaves the File table's versions empty, and Windows Installer would take Corvane's programs for
# unversioned files: their version is what decides whether a repair or an upgrade replaces a file in place.
for exe in corvane.exe corvanectl.exe; do
  msibuild "$out" -q "UPDATE \`File\` SET \`Version\` = '$version.0', \`Language\` = '1033' WHERE \`File\` = '$exe'"
done
