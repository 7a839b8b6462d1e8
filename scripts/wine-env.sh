# Sourced by the scripts: the Wine test bed for one build folder ($BUILD) of one architecture ($ARCH).
# Creates the prefix once, starts Xvfb and one persistent wineserver, and stops them again.
# i686 builds run in a win32 prefix through Wine's 32-bit loader; x64 builds in a win64 prefix through
# wine64, called directly (/usr/bin/wine tries the 32-bit loader first).
wine_bed_env() {
  case "${ARCH:-i686}" in
    x64) export WINEARCH=win64 WINE=/usr/lib/wine/wine64 ;;
    *) export WINEARCH=win32 WINE=wine ;;
  esac
  export WINEPREFIX="$BUILD/wineprefix" WINEDEBUG=-all
  # No debugger on a crash; no Mono or Gecko installs at boot (without them wineboot may leave RpcSs
  # unstarted, and a service started later then fails with 1053).
  export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
  # China Standard Time, as on the machines the product is for. Wine takes each process's time zone
  # from its own Unix TZ, which a Windows parent does not pass on to the children it starts.
  export TZ=Asia/Shanghai
  unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
}

wine_bed_start() {
  wine_bed_env
  # A free X display number of our own.
  local n=91
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  echo "$DISPLAY" > "$BUILD/wine-display"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

  # One throwaway prefix per run.
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  # wine64 says once that it cannot open syswow64\rundll32.exe: harmless, as is the rest of its chatter.
  if ! "$WINE" wineboot -i >/dev/null 2>&1; then
    echo "wine-env: wineboot failed in $WINEPREFIX ($WINEARCH)" >&2
    return 1
  fi
  wineserver -w
  # Chinese text in screenshots: SimSun/宋体 map to the installed CJK font.
  "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '宋体' /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Shell Dlg' /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  # Two removable drives for the device list: R: labelled "A(B" (Wine reads a label from the root's
  # .windows-label), S: without a label. Wine reports a "floppy" drive as DRIVE_REMOVABLE; it reads
  # new letters only when its server starts again, which the next step does.
  local letter
  for letter in r s; do
    mkdir -p "$WINEPREFIX/drives/$letter"
    ln -sfn "../drives/$letter" "$WINEPREFIX/dosdevices/$letter:"
    "$WINE" reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d floppy /f >/dev/null 2>&1
  done
  printf '%s' 'A(B' > "$WINEPREFIX/drives/r/.windows-label"
  wineserver -w
  # One persistent wineserver for the whole run: each test process then starts in milliseconds.
  wineserver -p >/dev/null 2>&1 &
  "$WINE" cmd /c exit >/dev/null 2>&1 || true
}

wine_bed_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
  rm -f "$BUILD/wine-display"
}
