# Sourced by the scripts: the Wine test bed for one build folder ($BUILD).
# Creates the prefix once, starts Xvfb and one persistent wineserver, and stops them again.
wine_bed_env() {
  export WINEPREFIX="$BUILD/wineprefix" WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
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
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Chinese text in screenshots: SimSun/宋体 map to the installed CJK font.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '宋体' /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Shell Dlg' /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  wineserver -w
  # One persistent wineserver for the whole run: each test process then starts in milliseconds.
  wineserver -p >/dev/null 2>&1 &
  wine cmd /c exit >/dev/null 2>&1 || true
}

wine_bed_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
  rm -f "$BUILD/wine-display"
}
