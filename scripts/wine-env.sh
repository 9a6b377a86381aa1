# Wine environment for running Skiplane and its Windows tests. Source it:
#   source scripts/wine-env.sh <prefix-dir>
# then call wine_prefix_setup once before the first wine command (it returns at once when the
# prefix is already set up).

if [ -z "${1:-}" ]; then
  echo "usage: source wine-env.sh <prefix-dir>" >&2
  return 2 2>/dev/null || exit 2
fi

mkdir -p "$1"
WINEPREFIX="$(cd "$1" && pwd)"
export WINEPREFIX
export WINEDEBUG=-all
# No Mono/Gecko install dialog on the first start.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Code page 936: the program's texts are GBK.
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8

# Whether this machine runs 32-bit x86 code, and so Wine's 32-bit side: some virtual machines run
# none ("Exec format error"). There only 64-bit Windows programs run, through wine64.
wine_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
# Where it runs no 32-bit code, `wine` here means wine64 (the plain `wine` starts the 32-bit
# loader first, even for a 64-bit program).
if ! wine_runs_32bit && [ -x /usr/lib/wine/wine64 ]; then
  WINE64_BIN="$(dirname "$WINEPREFIX")/wine64-bin"
  mkdir -p "$WINE64_BIN"
  printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$WINE64_BIN/wine"
  chmod +x "$WINE64_BIN/wine"
  case ":$PATH:" in *":$WINE64_BIN:"*) ;; *) export PATH="$WINE64_BIN:$PATH" ;; esac
fi

wine_prefix_setup() {
  local marker="$WINEPREFIX/.skiplane-prefix-ready"
  [ -f "$marker" ] && return 0
  wine wineboot -i >/dev/null 2>&1 && wineserver -w || return 1
  # A virtual desktop: without a window manager, show/hide races with X.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null || return 1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null || return 1
  # Wine's UI fonts have no Chinese glyphs: draw them with the CJK font instead of boxes.
  local font
  for font in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" \
              "SimSun" "宋体"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" \
      /d "WenQuanYi Micro Hei" /f >/dev/null || return 1
  done
  wineserver -w
  touch "$marker"
}
