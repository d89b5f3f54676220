#!/usr/bin/env bash
# Builds the Windows cross toolchain that ./test-windows.sh uses, from Debian's own source packages:
# OpenSSL, SQLite, qtbase, qtsvg, Info-ZIP unzip and the single-header cpp-httplib, cross-compiled
# with mingw-w64 for 64-bit Windows. About an hour on two cores; CI does not run it.
#   build-windows-toolchain.sh OUT
# OUT then holds windows-qt5.tar.xz and install.sh, as the shared toolchain folder does; point
# VIGILOR_WINDOWS_TOOLCHAIN at it. Needs deb-src entries for apt-get source.
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
work=$out/work
prefix=$work/windows-qt5
src=$work/src
jobs=$(nproc)
here=$(cd "$(dirname "$0")" && pwd)

sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_=sudo
if ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    sed -n 's/^Types: deb$/Types: deb deb-src/p' /etc/apt/sources.list.d/debian.sources > /dev/null 2>&1 &&
        $sudo_ sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
fi
export DEBIAN_FRONTEND=noninteractive
$sudo_ apt-get update -q
$sudo_ apt-get install -y -q --no-install-recommends g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 wine wine64 fonts-wine tcl perl python3 make cmake xz-utils dpkg-dev

mkdir -p "$src" "$prefix/lib" "$prefix/include" "$prefix/bin"
cd "$src"
apt-get source openssl sqlite3 qtbase-opensource-src qtsvg-opensource-src unzip cpp-httplib
apt-get source --download-only gtk+3.0
# Qt from its pristine upstream tree; the others with Debian's patches applied.
tar -xJf qtbase-opensource-src_*.orig.tar.xz
openssl_dir=$(find . -maxdepth 1 -type d -name 'openssl-3*' | head -n1)
sqlite_dir=$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -n1)
qtbase_dir=$(find . -maxdepth 1 -type d -name 'qtbase-everywhere-src-*' | head -n1)
qtsvg_dir=$(find . -maxdepth 1 -type d -name 'qtsvg-opensource-src-*' | head -n1)
unzip_dir=$(find . -maxdepth 1 -type d -name 'unzip-*' | head -n1)
httplib_dir=$(find . -maxdepth 1 -type d -name 'cpp-httplib-*' | head -n1)

# OpenSSL as DLLs, which Qt Network links.
mkdir -p "$work/build/openssl" && cd "$work/build/openssl"
"$src/$openssl_dir/Configure" mingw64 --cross-compile-prefix=x86_64-w64-mingw32- no-tests --prefix="$prefix" --libdir=lib
make -j"$jobs" build_sw
make install_sw

# SQLite: the amalgamation, static, for Qt's SQLite driver (column metadata is required by it).
mkdir -p "$work/build/sqlite" && cd "$work/build/sqlite"
"$src/$sqlite_dir/configure" > /dev/null
make sqlite3.c
x86_64-w64-mingw32-gcc -O2 -DNDEBUG -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS3 \
    -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_RTREE -DSQLITE_ENABLE_JSON1 \
    -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_SECURE_DELETE -DSQLITE_USE_URI=1 -DSQLITE_ENABLE_DBSTAT_VTAB \
    -c sqlite3.c -o sqlite3.o
x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" sqlite3.o
install -m644 sqlite3.h sqlite3ext.h "$prefix/include/"

# Debian's qtbase tarball leaves out the tablet headers the Windows platform plugin needs; the same
# freely usable headers come with Debian's GTK source.
cd "$src"
tar -xJf gtk+3.0_*.orig.tar.xz --wildcards '*/gdk/win32/pktdef.h' '*/gdk/win32/wintab.h'
wintab=$src/$qtbase_dir/src/3rdparty/wintab
mkdir -p "$wintab"
cp gtk+-*/gdk/win32/wintab.h gtk+-*/gdk/win32/pktdef.h "$wintab/"
sed -i 's|^\t#define CSR_CAPABILITIES\t19 /\* 1.1 \*/|&\n\t#define CSR_TYPE\t\t\t20 /* 1.2 */|' "$wintab/wintab.h"

mkdir -p "$work/build/qtbase" && cd "$work/build/qtbase"
"$src/$qtbase_dir/configure" -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
    -prefix "$prefix" -opensource -confirm-license -release -shared -nomake examples -nomake tests \
    -no-pkg-config -no-opengl -no-dbus -no-icu -no-fontconfig -no-direct2d \
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-harfbuzz -qt-freetype -qt-doubleconversion \
    -openssl-linked OPENSSL_PREFIX="$prefix" -system-sqlite SQLITE_PREFIX="$prefix" \
    -sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -no-sql-ibase -no-sql-oci -no-sql-db2 -no-sql-tds \
    -no-sql-sqlite2 -no-feature-concurrent -no-feature-xml -no-feature-printer
make -j"$jobs"
make install

mkdir -p "$work/build/qtsvg" && cd "$work/build/qtsvg"
"$prefix/bin/qmake" "$src/$qtsvg_dir/qtsvg.pro"
make -j"$jobs"
make install

# Info-ZIP unzip as a Windows console program: the unpacking tool the content server hands out.
cd "$src/$unzip_dir"
make -f win32/Makefile.gcc CC="x86_64-w64-mingw32-gcc -include windows.h" AS=x86_64-w64-mingw32-gcc \
    RC=x86_64-w64-mingw32-windres STRIP=x86_64-w64-mingw32-strip NOASM=1 CC_CPU_OPT="" unzip.exe
cp unzip.exe "$prefix/bin/"

# cpp-httplib's single header, used header-only by the tests' loopback server.
cp "$src/$httplib_dir/httplib.h" "$prefix/include/"

# The mingw run-time DLLs beside Qt's, and the CMake toolchain file (relative to its own folder).
gcc_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
cp "$gcc_runtime/libstdc++-6.dll" "$gcc_runtime/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll \
    "$prefix/bin/"
cp "$here/windows-toolchain.cmake" "$prefix/mingw-w64-x86_64.cmake"

tar -C "$work" -cJf "$out/windows-qt5.tar.xz" windows-qt5
cp "$here/install-windows-toolchain.sh" "$out/install.sh"
echo "toolchain: $out (VIGILOR_WINDOWS_TOOLCHAIN=$out ./test-windows.sh)"
