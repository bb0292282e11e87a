#!/bin/sh
# copy_module.sh MODULE FOLDER: puts another build's Velumo.dll into FOLDER,
# beside the programs that play the host, for its run of the Windows suite.
set -eu
module=${1:?usage: copy_module.sh MODULE FOLDER}
folder=${2:?usage: copy_module.sh MODULE FOLDER}
if [ ! -f "$module" ]; then
  echo "copy_module.sh: $module is missing: build it first (make windows-clang)" >&2
  exit 1
fi
cp "$module" "$folder/Velumo.dll"
echo "$module -> $folder/Velumo.dll"
