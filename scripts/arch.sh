# Sourced by the scripts: the architecture of one build ($ARCH, default i686) and its folder ($BUILD).
ARCH=${ARCH:-i686}
case "$ARCH" in
  i686) TOOLCHAIN=mingw-i686.cmake; BUILD=${BUILD:-$ROOT/build} ;;
  x64|x86_64) ARCH=x64; TOOLCHAIN=mingw-x86_64.cmake; BUILD=${BUILD:-$ROOT/build-x64} ;;
  *) echo "unknown ARCH '$ARCH' (i686 or x64)" >&2; exit 2 ;;
esac
export ARCH BUILD TOOLCHAIN

# Whether this machine runs 32-bit Windows programs: asked of Wine's 32-bit loader itself, since some
# kernels have 32-bit emulation switched off.
runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}
