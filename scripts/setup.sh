#!/usr/bin/env bash
# Installs what the build and the Wine test bed need on Debian 12; installs only what is missing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need_pkgs=(g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev cmake ninja-build googletest
           wine wine32 wine64 xvfb xauth xdotool fonts-wqy-microhei imagemagick dpkg-dev locales python3 openssl)

missing=()
for p in "${need_pkgs[@]}"; do
  st=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$st" in *"install ok installed"*) ;; *) missing+=("$p") ;; esac
done

have_src=0
if ls /usr/share/tinyxml-src/tinyxml.cpp >/dev/null 2>&1; then have_src=1; fi

if [ ${#missing[@]} -gt 0 ] || [ $have_src -eq 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # TinyXML is built from Debian's source package, so the sources need a deb-src line.
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
    else
      # The source line follows the machine's own first binary line: its mirror, suite and components.
      src=$(grep -hE '^deb[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -n1 || true)
      if [ -z "$src" ]; then
        echo "setup: no apt source line to take the TinyXML source from" >&2
        exit 1
      fi
      echo "deb-src${src#deb}" | $SUDO tee /etc/apt/sources.list.d/tinyxml-src.list >/dev/null
    fi
  fi
  $SUDO apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# mingw's posix-thread flavour is the one we build with.
if [ "$(readlink -f "$(command -v i686-w64-mingw32-g++)" 2>/dev/null)" != "$(readlink -f /usr/bin/i686-w64-mingw32-g++-posix)" ]; then
  $SUDO update-alternatives --set i686-w64-mingw32-g++ /usr/bin/i686-w64-mingw32-g++-posix >/dev/null 2>&1 || true
  $SUDO update-alternatives --set i686-w64-mingw32-gcc /usr/bin/i686-w64-mingw32-gcc-posix >/dev/null 2>&1 || true
fi
if [ "$(readlink -f "$(command -v x86_64-w64-mingw32-g++)" 2>/dev/null)" != "$(readlink -f /usr/bin/x86_64-w64-mingw32-g++-posix)" ]; then
  $SUDO update-alternatives --set x86_64-w64-mingw32-g++ /usr/bin/x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || true
  $SUDO update-alternatives --set x86_64-w64-mingw32-gcc /usr/bin/x86_64-w64-mingw32-gcc-posix >/dev/null 2>&1 || true
fi

if [ $have_src -eq 0 ]; then
  tmp=$(mktemp -d)
  ( cd "$tmp" && apt-get source -qq tinyxml >/dev/null 2>&1 )
  d=$(find "$tmp" -maxdepth 1 -type d -name 'tinyxml-*' | head -n1)
  [ -n "$d" ] && [ -f "$d/tinyxml.cpp" ] || { echo "setup: could not unpack the tinyxml source package" >&2; exit 1; }
  $SUDO mkdir -p /usr/share/tinyxml-src
  $SUDO cp "$d"/tinyxml.cpp "$d"/tinyxmlparser.cpp "$d"/tinyxmlerror.cpp "$d"/tinyxml.h "$d"/tinystr.h "$d"/tinystr.cpp /usr/share/tinyxml-src/ 2>/dev/null || \
  $SUDO cp "$d"/tinyxml.cpp "$d"/tinyxmlparser.cpp "$d"/tinyxmlerror.cpp "$d"/tinyxml.h /usr/share/tinyxml-src/
  rm -rf "$tmp"
fi
# Wine takes its ANSI code page (936 for zh_CN) from the Unix locale, which must exist.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
echo "setup: ready"
