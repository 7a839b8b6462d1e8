#!/usr/bin/env bash
# Makes the release that test_release.cpp installs, with the release command of the signing script:
#   make_release.sh SIGNING_SCRIPT DIR
# DIR/key holds a new signing key, DIR/publish the files and the update.txt with its signature.
set -euo pipefail
script=$1 dir=$2
rm -rf "$dir"
bash "$script" keygen "$dir/key" >/dev/null
mkdir -p "$dir/publish"
printf 'sentry-3' > "$dir/publish/Sentry.exe"
printf 'warden-3\r\n' > "$dir/publish/Warden.exe"
# Every byte value, so that nothing on the way may treat the file as text.
python3 -c 'import sys; open(sys.argv[1], "wb").write(bytes(range(256)) * 64)' "$dir/publish/Corelib.dll"
bash "$script" release "$dir/key/update-signing.pem" "$dir/publish" 3.0 \
  http://update.example.com/wp-content/uploads/soft/computerlock/update \
  "Tolven电脑锁 3.0" "修正了拔出钥匙后的锁定" " 前后有空格 "
