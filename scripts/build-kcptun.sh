#!/usr/bin/env bash
# Builds the kcptun client for 32-bit Windows from Debian's own sources, offline from Go's point
# of view: Debian's -dev packages provide the libraries, apt-get source provides kcptun itself and
# the full golang.org/x/sys (the -dev package lacks its Windows parts). Also installs Debian's
# Linux kcptun, whose kcptun-server serves as the far end of a test tunnel.
#   usage: bash scripts/build-kcptun.sh <out-dir>     ->  <out-dir>/kcptun-client.exe
# KCPTUN_GOARCH=amd64 builds it for 64-bit Windows (default 386, as the program itself).
set -euo pipefail

if [ $# -ne 1 ]; then echo "usage: $0 <out-dir>" >&2; exit 2; fi
mkdir -p "$1"
out="$(cd "$1" && pwd)"
exe="$out/kcptun-client.exe"
debsrc="$out/debsrc"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# What kcptun's client/ and generic/ import (the -dev packages pull in the rest: gopacket,
# reedsolomon, gmsm, x/net, ...); dpkg-dev unpacks what apt-get source fetches.
bash "$(dirname "$0")/install-deps.sh" golang-go kcptun dpkg-dev \
  golang-github-xtaci-kcp-dev golang-github-xtaci-smux-dev golang-github-xtaci-tcpraw-dev \
  golang-github-golang-snappy-dev golang-github-urfave-cli-dev golang-github-pkg-errors-dev \
  golang-golang-x-crypto-dev

# The source packages unpack to e.g. golang-golang-x-sys-0.3.0/ (or <package>-upstream/ below).
shopt -s nullglob
sources_fetched() {
  kcptun_dirs=("$debsrc"/kcptun-*/client) xsys_dirs=("$debsrc"/golang-golang-x-sys-*/windows)
  [ ${#kcptun_dirs[@]} -eq 1 ] && [ ${#xsys_dirs[@]} -eq 1 ]
}
if ! sources_fetched; then
  # apt-get source needs deb-src entries. Mirror the machine's own deb entries (one-line and
  # deb822 files alike) into files of our own rather than editing the machine's.
  if ! apt-cache showsrc kcptun >/dev/null 2>&1; then
    list=/etc/apt/sources.list.d/skiplane-src.list
    stanzas=/etc/apt/sources.list.d/skiplane-src.sources
    lines="$(for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
               if [ -f "$f" ] && [ "$f" != "$list" ]; then
                 sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f"; fi; done)"
    # A blank line after each file keeps the stanzas of different files apart.
    blocks="$(for f in /etc/apt/sources.list.d/*.sources; do
                if [ "$f" != "$stanzas" ]; then sed 's/^Types:.*/Types: deb-src/' "$f"; echo; fi
              done)"
    if [ -n "$lines" ]; then echo "$lines" | $SUDO tee "$list" >/dev/null; echo "Added $list"; fi
    if [ -n "$blocks" ]; then echo "$blocks" | $SUDO tee "$stanzas" >/dev/null; echo "Added $stanzas"; fi
    $SUDO apt-get update -q
  fi
  rm -rf "$debsrc" && mkdir -p "$debsrc"
  for pkg in kcptun golang-golang-x-sys; do
    (cd "$debsrc" && apt-get source -q "$pkg") && continue
    # The mirror may lack the Debian part (kcptun's debian.tar.xz answers 404 here). It changes
    # none of kcptun's Go files (compare /usr/share/gocode/src/github.com/xtaci/kcptun), so the
    # upstream tarball alone will do.
    orig=("$debsrc/${pkg}_"*.orig.tar.*)
    [ ${#orig[@]} -eq 1 ] || { echo "no source for $pkg" >&2; exit 1; }
    echo "$pkg: building from the upstream tarball ${orig[0]##*/}"
    mkdir "$debsrc/$pkg-upstream"
    tar -xf "${orig[0]}" -C "$debsrc/$pkg-upstream" --strip-components=1
  done
  sources_fetched || { echo "apt-get source left no kcptun / x/sys tree in $debsrc" >&2; exit 1; }
fi
kcptun_src="${kcptun_dirs[0]%/client}"
xsys_src="${xsys_dirs[0]%/windows}"

# Nothing to do when the client is newer than every source it is built from. -cnewer, as dpkg
# keeps a package's build time as mtime: a file's ctime tells when it landed here.
if [ -f "$exe" ] && [ -z "$(find "$kcptun_src/" "$xsys_src/" /usr/share/gocode/src/ \
                              -cnewer "$exe" -print -quit)" ]; then
  echo "$exe"
  exit 0
fi

# GOPATH mode: our gopath comes first, so its x/sys (with Windows) wins over the -dev package's.
gopath="$out/gopath"
mkdir -p "$gopath/src/github.com/xtaci" "$gopath/src/golang.org/x"
ln -sfn "$kcptun_src" "$gopath/src/github.com/xtaci/kcptun"
ln -sfn "$xsys_src" "$gopath/src/golang.org/x/sys"
# kcptun -v prints what the release builds set: the upstream date, 20210922 from 20210922+ds-1.
version="$(sed -n 's/^Version: *\([0-9]*\).*/\1/p' "$debsrc"/kcptun_*.dsc)"

GOPATH="$gopath:/usr/share/gocode" GOCACHE="$out/gocache" GO111MODULE=off GOPROXY=off \
GOFLAGS='' GOOS=windows GOARCH="${KCPTUN_GOARCH:-386}" CGO_ENABLED=0 \
  go build -trimpath -ldflags "-s -w -X main.VERSION=$version" -o "$exe.tmp" \
    github.com/xtaci/kcptun/client
mv -f "$exe.tmp" "$exe"
echo "$exe"
