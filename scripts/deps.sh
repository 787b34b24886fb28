#!/usr/bin/env bash
# Installs the Debian packages Quaverly needs and cross-builds the static
# x86_64-w64-mingw32 libraries the Windows build links against.
#
#   scripts/deps.sh                  packages + cross libraries
#   scripts/deps.sh --packages-only  packages only (enough for the native build)
#
# The libraries land in ${QUAVERLY_CACHE:-$HOME/.cache/quaverly}/mingw64-<hash of
# this script>, with the symlink .../mingw64 pointing at the finished prefix.
# Each library gets a stamp when done, so a rerun after a failure resumes. A new prefix
# starts as a copy of the one in use, and a library is built again only when its recipe, or
# the recipe of one built before it, changed.
set -euo pipefail

readonly HOST=x86_64-w64-mingw32
readonly JOBS=2 # the machine has two cores, shared

PACKAGES=(
  g++-mingw-w64-x86-64 mingw-w64-tools cmake ninja-build make pkg-config
  wine wine64 fonts-wine xvfb xauth xdotool pulseaudio pulseaudio-utils
  googletest dpkg-dev autoconf automake libtool bzip2 xz-utils
  libz-mingw-w64-dev
  vorbis-tools lame flac opus-tools sox imagemagick
  clang libclang-rt-14-dev openmpt123 timgm6mb-soundfont
  gstreamer1.0-libav gstreamer1.0-plugins-good gstreamer1.0-plugins-base ffmpeg
  libopenmpt-dev libvorbis-dev libogg-dev libmpg123-dev libflac-dev
  libopus-dev libopusfile-dev libsoxr-dev libsndfile1-dev
)

# Build order matters: later libraries find earlier ones through pkg-config.
# (Not named LIBS: the builds below unset that, it is a make variable.)
CROSS_LIBS=(ogg vorbis mpg123 flac opus opusfile soxr openmpt sndfile)
declare -A SOURCE_PACKAGE=(
  [ogg]=libogg [vorbis]=libvorbis [mpg123]=mpg123 [flac]=flac
  [opus]=opus [opusfile]=opusfile [soxr]=libsoxr [openmpt]=libopenmpt
  [sndfile]=libsndfile
)
declare -A PRODUCTS=(
  [ogg]="libogg.a ogg.pc"
  [vorbis]="libvorbis.a libvorbisenc.a libvorbisfile.a vorbis.pc vorbisenc.pc vorbisfile.pc"
  [mpg123]="libmpg123.a libmpg123.pc"
  [flac]="libFLAC.a flac.pc"
  [opus]="libopus.a opus.pc"
  [opusfile]="libopusfile.a opusfile.pc"
  [soxr]="libsoxr.a soxr.pc"
  [openmpt]="libopenmpt.a libopenmpt.pc"
  [sndfile]="libsndfile.a sndfile.pc"
)

log() { printf '[deps] %s\n' "$*"; }
die() {
  printf '[deps] ERROR: %s\n' "$*" >&2
  exit 1
}

usage() {
  sed -n '2,10s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

packages_only=0
for arg in "$@"; do
  case $arg in
  --packages-only) packages_only=1 ;;
  -h | --help)
    usage
    exit 0
    ;;
  *) die "unknown option '$arg' (see --help)" ;;
  esac
done

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache_root=$(realpath -m "${QUAVERLY_CACHE:-$HOME/.cache/quaverly}")
key=$(sha256sum "$script_dir/deps.sh" | cut -c1-12)
prefix=$cache_root/mingw64-$key
started=$SECONDS

as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    die "need root for: $*"
  fi
}

# ---------------------------------------------------------------- apt ----

apt_updated=0
apt_update_once() {
  ((apt_updated)) && return 0
  log "apt-get update"
  local out
  if ! out=$(as_root apt-get -o DPkg::Lock::Timeout=600 update -qq 2>&1); then
    printf '%s\n' "$out" >&2
    die "apt-get update failed"
  fi
  apt_updated=1
}

missing_packages() {
  local installed
  installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${PACKAGES[@]}" 2>/dev/null || true)
  local p
  for p in "${PACKAGES[@]}"; do
    grep -qx "$p installed" <<<"$installed" || printf '%s\n' "$p"
  done
}

install_packages() {
  local missing=("$@")
  if ((${#missing[@]} == 0)); then
    log "packages: all ${#PACKAGES[@]} installed"
    return 0
  fi
  apt_update_once
  log "installing: ${missing[*]}"
  local out
  if ! out=$(as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 \
    install -y -qq --no-install-recommends "${missing[@]}" 2>&1); then
    printf '%s\n' "$out" | tail -n 30 >&2
    die "apt-get install failed for: ${missing[*]}"
  fi
  mapfile -t missing < <(missing_packages)
  ((${#missing[@]} == 0)) || die "still not installed after apt-get install: ${missing[*]}"
}

# deb-src entries mirror the machine's own Debian entries, so the source
# versions match the binaries and no mirror is named here.
readonly SRC_LIST=/etc/apt/sources.list.d/quaverly-src.sources

have_deb_src() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f $f && $f != "$SRC_LIST" ]] || continue
    if [[ $f == *.sources ]]; then
      grep -qiE '^Types:.*\bdeb-src\b' "$f" && return 0
    else
      grep -qE '^[[:space:]]*deb-src[[:space:]]' "$f" && return 0
    fi
  done
  return 1
}

# Prints deb-src stanzas for every enabled "deb" entry of a Debian archive.
derive_deb_src() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f && $f != "$SRC_LIST" ]] || continue
    awk '
      function flush() {
        if (types ~ /(^|[[:space:]])deb($|[[:space:]])/ && enabled !~ /^(no|false)$/ &&
            (uris ~ /\/debian(-security)?(\/|[[:space:]]|$)/ || signed ~ /debian-archive-keyring/) &&
            comps != "") {
          print "Types: deb-src"
          print "URIs: " uris
          print "Suites: " suites
          print "Components: " comps
          if (signed != "") print "Signed-By: " signed
          print ""
        }
        types = uris = suites = comps = signed = enabled = ""
      }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      {
        k = tolower($0); sub(/:.*/, "", k)
        v = $0; sub(/^[^:]*:[[:space:]]*/, "", v)
        if (k == "types") types = v
        else if (k == "uris") uris = v
        else if (k == "suites") suites = v
        else if (k == "components") comps = v
        else if (k == "signed-by") signed = v
        else if (k == "enabled") enabled = tolower(v)
      }
      END { flush() }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    awk '
      $1 != "deb" { next }
      {
        opts = ""; i = 2
        if ($2 ~ /^\[/) {
          while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ }
          gsub(/[\[\]]/, "", opts)
        }
        uri = $i; suite = $(i + 1); comps = ""
        for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
        if ((uri !~ /\/debian(-security)?(\/|$)/ && opts !~ /debian-archive-keyring/) || comps == "") next
        print "Types: deb-src"
        print "URIs: " uri
        print "Suites: " suite
        print "Components: " comps
        n = split(opts, o, " ")
        for (j = 1; j <= n; j++) if (o[j] ~ /^signed-by=/) { sub(/^signed-by=/, "", o[j]); print "Signed-By: " o[j] }
        print ""
      }' "$f"
  done
}

ensure_deb_src() {
  have_deb_src && return 0
  local want
  want=$(derive_deb_src)
  [[ -n $want ]] || die "no Debian 'deb' entry found in /etc/apt/sources.list{,.d/} to derive deb-src from"
  if [[ ! -f $SRC_LIST ]] || [[ $(cat "$SRC_LIST") != "$want" ]]; then
    log "writing $SRC_LIST (deb-src of the existing Debian entries)"
    printf '%s\n' "$want" | as_root tee "$SRC_LIST" >/dev/null
  fi
}

# ------------------------------------------------------- cross build ----

# True when every file that the .dsc lists is there (the upstream .asc aside:
# the mirror lacks mpg123's, and apt has already checked the others).
source_complete() {
  local dsc=$1 f
  while read -r f; do
    [[ $f == *.asc || -f $(dirname "$dsc")/$f ]] || return 1
  done < <(awk '/^Files:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF >= 3 { print $3 }' "$dsc")
}

# Downloads a source package once into the shared source cache and unpacks
# it (Debian patches applied) into $2.
unpack_source() {
  local pkg=$1 dest=$2
  local dir=$cache_root/sources/$pkg dsc
  mkdir -p "$dir"
  dsc=$(find "$dir" -maxdepth 1 -name "${pkg}_*.dsc" | sort | tail -n 1)
  if [[ -z $dsc ]] || ! source_complete "$dsc"; then
    # apt-get exits non-zero over the missing .asc; judge by the files instead.
    (cd "$dir" && apt-get source --download-only -q "$pkg") >"$dir/download.log" 2>&1 || true
    dsc=$(find "$dir" -maxdepth 1 -name "${pkg}_*.dsc" | sort | tail -n 1)
    if [[ -z $dsc ]] || ! source_complete "$dsc"; then
      tail -n 20 "$dir/download.log" >&2
      die "apt-get source $pkg failed (log: $dir/download.log)"
    fi
  fi
  rm -rf "$dest"
  # Checksums were verified by apt against the signed index; only the missing
  # upstream signature would trip the check here.
  dpkg-source -x --no-check "$dsc" "$dest" >/dev/null
  # Debian patches touch Makefile.am/configure.ac; age them so make does not
  # try to rerun automake (the generated files shipped in the tarball are fine).
  find "$dest" \( -name Makefile.am -o -name configure.ac -o -name acinclude.m4 \
    -o \( -path '*/m4/*' -name '*.m4' \) \) -exec touch -d @946684800 {} +
}

configure_autotools() {
  ./configure --host="$HOST" --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
    --prefix="$prefix" --disable-shared --enable-static --disable-dependency-tracking "$@"
}

build_ogg() {
  configure_autotools
  make -j"$JOBS"
  make install
}

build_vorbis() {
  configure_autotools --disable-docs --disable-examples --disable-oggtest
  make -j"$JOBS"
  make install
}

build_mpg123() {
  configure_autotools --with-audio=dummy --with-default-audio=dummy --disable-modules \
    --enable-network=no --with-cpu=x86-64 --with-optimization=2
  # Library only: the programs and libout123 would drag in audio outputs.
  make -j"$JOBS" src/libmpg123/libmpg123.la
  install -d "$prefix/include" "$prefix/lib/pkgconfig"
  install -m 644 src/libmpg123/.libs/libmpg123.a "$prefix/lib/"
  install -m 644 src/libmpg123/mpg123.h src/libmpg123/fmt123.h "$prefix/include/"
  install -m 644 libmpg123.pc "$prefix/lib/pkgconfig/"
}

build_flac() {
  configure_autotools --disable-programs --disable-examples --disable-cpplibs \
    --disable-doxygen-docs --disable-xmms-plugin --disable-oggtest \
    --disable-stack-smash-protection --disable-fortify-source --disable-version-from-git \
    --disable-rpath --disable-thorough-tests
  make -j"$JOBS"
  make install
  # The headers import from a DLL unless told that the library is static.
  sed -i -E '/^Cflags:/{/FLAC__NO_DLL/!s/$/ -DFLAC__NO_DLL/}' "$prefix/lib/pkgconfig/flac.pc"
}

build_opus() {
  configure_autotools --disable-doc --disable-extra-programs --disable-stack-protector
  make -j"$JOBS"
  make install
}

build_opusfile() {
  configure_autotools --disable-http --disable-examples --disable-doc
  make -j"$JOBS"
  make install
}

# A CMake project cross-built into the prefix (Release, static); extra -D options follow.
cmake_cross() {
  cat >toolchain.cmake <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $HOST-gcc-posix)
set(CMAKE_CXX_COMPILER $HOST-g++-posix)
set(CMAKE_RC_COMPILER $HOST-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$HOST "$prefix")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
EOF
  cmake -S . -B build -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DBUILD_SHARED_LIBS=OFF "$@"
  cmake --build build -j "$JOBS"
  cmake --install build
}

build_soxr() {
  cmake_cross -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
  # soxr installs no .pc file on Windows.
  local version
  version=$(dpkg-parsechangelog -S Version | sed 's/-[^-]*$//')
  cat >"$prefix/lib/pkgconfig/soxr.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: soxr
Description: High quality, one-dimensional sample-rate conversion library
Version: $version
Libs: -L\${libdir} -lsoxr
Cflags: -I\${includedir}
EOF
}

build_openmpt() {
  # zlib comes from libz-mingw-w64-dev; its .pc beside ours lets MO3 find it.
  install -m 644 "/usr/$HOST/lib/pkgconfig/zlib.pc" "$prefix/lib/pkgconfig/zlib.pc"
  configure_autotools --disable-openmpt123 --disable-examples --disable-tests \
    --disable-doxygen-doc \
    --with-zlib --with-mpg123 --with-ogg --with-vorbis --with-vorbisfile \
    --without-pulseaudio --without-portaudio --without-portaudiocpp \
    --without-sndfile --without-flac --without-sdl2 \
    CXXSTDLIB_PCLIBSPRIVATE=-lstdc++
  make -j"$JOBS"
  make install
}

build_sndfile() {
  # The PCM containers only: Ogg, FLAC, Opus and MP3 have decoders of their own, so none of
  # its external codec libraries is linked.
  cmake_cross -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=OFF \
    -DINSTALL_PKGCONFIG_MODULE=ON -DENABLE_STATIC_RUNTIME=OFF
}

# .pc files find their prefix from their own location, so the cache works
# through the mingw64 symlink and can be moved.
relocate_pc_files() {
  local pc
  for pc in "$prefix"/lib/pkgconfig/*.pc; do
    [[ $(basename "$pc") == zlib.pc ]] && continue
    sed -i -e "s|^prefix=.*|prefix=\${pcfiledir}/../..|" -e "/^prefix=/!s|$prefix|\${prefix}|g" "$pc"
  done
}

build_one() {
  local lib=$1 t0=$SECONDS
  local work=$prefix/build/$lib logf=$prefix/logs/$lib.log
  log "$lib: building from Debian source '${SOURCE_PACKAGE[$lib]}' (log: $logf)"
  mkdir -p "$prefix/logs"
  : >"$logf"
  # Not under "if": errexit must stay live inside the subshell.
  local rc=0
  set +e
  (
    set -euo pipefail
    rm -rf "$work"
    mkdir -p "$work"
    unpack_source "${SOURCE_PACKAGE[$lib]}" "$work/src"
    cd "$work/src"
    "build_$lib"
  ) >>"$logf" 2>&1
  rc=$?
  set -e
  if ((rc != 0)); then
    tail -n 40 "$logf" >&2
    die "building $lib failed after $((SECONDS - t0)) s; full log: $logf (work dir kept: $work)"
  fi
  relocate_pc_files
  local p
  for p in ${PRODUCTS[$lib]}; do
    if [[ $p == *.pc ]]; then
      [[ -f $prefix/lib/pkgconfig/$p ]] || die "$lib: built but $prefix/lib/pkgconfig/$p is missing"
    else
      [[ -f $prefix/lib/$p ]] || die "$lib: built but $prefix/lib/$p is missing"
    fi
  done
  rm -rf "$work"
  mkdir -p "$prefix/stamps"
  printf '%s %s\n' "$((SECONDS - t0))" "$(fingerprint "$lib")" >"$prefix/stamps/$lib"
  log "$lib: done in $((SECONDS - t0)) s"
}

build_cross_libs() {
  mkdir -p "$cache_root"
  # Two runs at once would trample each other's work dirs.
  exec 9>"$cache_root/.lock"
  if ! flock -n 9; then
    log "another deps.sh is running; waiting for it"
    flock 9
  fi

  seed_prefix
  local lib todo
  mapfile -t todo < <(libs_to_build)
  if ((${#todo[@]})); then
    local tool
    for tool in "$HOST-gcc-posix" "$HOST-g++-posix" "$HOST-ar" cmake ninja make pkg-config dpkg-source; do
      command -v "$tool" >/dev/null || die "$tool not found; run scripts/deps.sh without options as root first"
    done
    log "cross libraries: ${#todo[@]} to build into $prefix (${todo[*]})"

    # Only our prefix may answer pkg-config, never the host's .pc files.
    unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS LIBS PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR CC CXX
    export PKG_CONFIG=pkg-config
    export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
    export CC=$HOST-gcc-posix CXX=$HOST-g++-posix
    export AR=$HOST-ar RANLIB=$HOST-ranlib STRIP=$HOST-strip
    # mingw-w64's fortify and stack protector need libssp at link time.
    export CFLAGS=-O2 CXXFLAGS=-O2 CPPFLAGS="-I$prefix/include -D_FORTIFY_SOURCE=0"
    export LDFLAGS="-L$prefix/lib"
    mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"

    for lib in "${todo[@]}"; do
      build_one "$lib"
    done
    rm -rf "${prefix:?}/build" "${prefix:?}/share" "${prefix:?}/doc" "${prefix:?}/bin"
    rm -f "$prefix"/lib/*.la
  fi

  for lib in "${CROSS_LIBS[@]}"; do
    printf '[deps]   %-9s %4s s\n' "$lib" "$(cut -d' ' -f1 "$prefix/stamps/$lib")"
  done
  ln -sfn "mingw64-$key" "$cache_root/mingw64.new.$$"
  mv -Tf "$cache_root/mingw64.new.$$" "$cache_root/mingw64"
  log "cross libraries ready: $cache_root/mingw64 -> mingw64-$key"
}

# What a library's build depends on: its recipe and the shared helpers, and the same of every
# library built before it (they are found through pkg-config).
fingerprint() {
  local lib=$1 l
  {
    declare -f configure_autotools cmake_cross relocate_pc_files
    for l in "${CROSS_LIBS[@]}"; do
      declare -f "build_$l"
      printf '%s %s\n' "${SOURCE_PACKAGE[$l]}" "${PRODUCTS[$l]}"
      [[ $l == "$lib" ]] && break
    done
  } | sha256sum | cut -c1-12
}

# A new prefix starts as a copy of the one in use, so that a change to this script rebuilds only
# the libraries whose builds it changed.
seed_prefix() {
  local current
  current=$(readlink -f "$cache_root/mingw64" 2>/dev/null) || return 0
  [[ -d $current/stamps && ! -d $prefix/stamps && $current != "$prefix" ]] || return 0
  log "starting from $current"
  mkdir -p "$prefix"
  cp -a "$current/." "$prefix/"
  # A stamp without a fingerprint comes from before they were written: taken as it is.
  local stamp
  for stamp in "$prefix"/stamps/*; do
    [[ $(wc -w <"$stamp") -ge 2 ]] || printf '%s %s\n' "$(cat "$stamp")" \
      "$(fingerprint "$(basename "$stamp")")" >"$stamp"
  done
}

libs_to_build() {
  local lib stamp
  for lib in "${CROSS_LIBS[@]}"; do
    stamp=$prefix/stamps/$lib
    if [[ ! -f $stamp || $(cut -d' ' -f2 "$stamp") != "$(fingerprint "$lib")" ]]; then
      printf '%s\n' "$lib"
    fi
  done
}

# Sources not yet in the cache need deb-src entries; set them up first so
# one apt-get update serves both the install and the downloads.
need_sources() {
  local lib
  for lib in $(libs_to_build); do
    compgen -G "$cache_root/sources/${SOURCE_PACKAGE[$lib]}/${SOURCE_PACKAGE[$lib]}_*.dsc" >/dev/null || return 0
  done
  return 1
}

mapfile -t missing < <(missing_packages)
if ((!packages_only)) && need_sources; then
  ensure_deb_src
  apt_update_once
fi
install_packages "${missing[@]}"
if ((!packages_only)); then
  build_cross_libs
fi
log "finished in $((SECONDS - started)) s"
