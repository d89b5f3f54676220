#!/usr/bin/env bash
# Tests the Windows release made by ./release-windows.sh:
#  - two builds of this commit in different folders give the same bytes;
#  - the archive holds exactly tests/release/expected-files.txt, every DLL in it is imported by
#    vigilor.exe or a plugin (directly or through another DLL of the archive), and every DLL imported
#    is in the archive or is one of Windows' own (tests/release/windows-system-dlls.txt);
#  - unpacked into a fresh Wine prefix, in a folder whose path has a space and Cyrillic letters, the
#    program starts against the loopback content server from its own DLLs and shows its main window
#    (screenshot: build-release-test/release-main-window.png);
#  - signed with a throwaway code-signing certificate (key behind a passphrase file), osslsigncode
#    verifies it against the throwaway CA, and one flipped byte makes the check fail.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
work=$root/build-release-test
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

scripts/install-deps.sh build run release
scripts/make-pki.sh "$work/pki" > /dev/null
# Built for the loopback content server with the test CA pinned, as the Windows lane is.
args=(-DVIGILOR_CONTENT_SERVER_CA="$work/pki/ca.pem")
./release-windows.sh "${args[@]}" > "$work/release-1.log" || { cat "$work/release-1.log"; fail "release build"; }
VIGILOR_RELEASE_DIR=$work/second ./release-windows.sh "${args[@]}" > "$work/release-2.log" ||
    { cat "$work/release-2.log"; fail "second release build"; }
archive=$(ls "$root"/build-release/vigilor-*-win64.zip)
name=$(basename "$archive")
cmp "$archive" "$work/second/$name" || fail "two builds of one commit differ"
(cd "$root/build-release" && sha256sum -c SHA256SUMS > /dev/null) || fail "SHA256SUMS does not match"
echo "ok: two builds give the same bytes ($(sha256sum "$archive" | cut -d' ' -f1))"

# Exactly the expected files.
version=${name#vigilor-}
version=${version%-win64.zip}
diff <(sed "s/VERSION/$version/" tests/release/expected-files.txt) <(zipinfo -1 "$archive") ||
    fail "the archive does not hold exactly tests/release/expected-files.txt"
echo "ok: the archive holds exactly the expected $(zipinfo -1 "$archive" | wc -l) files"

# Imports: what vigilor.exe and the plugins need, and what that needs in turn.
unpacked=$work/unpacked
rm -rf "$unpacked"
mkdir -p "$unpacked"
unzip -q "$archive" -d "$unpacked"
folder=$unpacked/vigilor-$version
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'; }
shipped=$(cd "$folder" && ls ./*.dll | sed 's#^\./##' | tr 'A-Z' 'a-z' | sort)
queue=("$folder/vigilor.exe" "$folder"/*/*.dll)
needed=""
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for dll in $(imports "$file"); do
        if grep -qx "$dll" <<< "$shipped"; then
            if ! grep -qx "$dll" <<< "$needed"; then
                needed=$(printf '%s\n%s' "$needed" "$dll")
                queue+=("$(ls "$folder"/* -d | grep -ix "$folder/$dll")")
            fi
        elif ! grep -qx "$dll" tests/release/windows-system-dlls.txt; then
            fail "$(basename "$file") imports $dll, which is neither in the archive nor a DLL of Windows"
        fi
    done
done
unneeded=$(comm -23 <(echo "$shipped") <(echo "$needed" | sed '/^$/d' | sort))
[ -z "$unneeded" ] || fail "DLLs nothing imports: $unneeded"
echo "ok: every DLL is imported, every import is shipped or Windows' own"

# The program from the archive alone: a fresh Wine prefix without WINEPATH, a path with a space and
# Cyrillic letters, the reference server with the demo content on loopback.
toolchain_file=$("${VIGILOR_WINDOWS_TOOLCHAIN:-$root/../shared/toolchains/windows-qt5}/install.sh" /opt/windows-qt5)
prefix=$(dirname "$toolchain_file")
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH
rm -rf "$WINEPREFIX"
wineboot --init > /dev/null 2>&1 || wine wineboot --init > /dev/null 2>&1
wineserver -w
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
stick="$WINEPREFIX/drive_c/Флешка лиги"
mkdir -p "$stick"
unzip -q "$archive" -d "$stick"

host=$work/host
cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DVIGILOR_BUILD_TESTS=OFF > /dev/null
cmake --build "$host" -j"$(nproc)" --target vigilor-content-server > /dev/null
server/demo/prepare-content.sh "$work/content" "$prefix/bin/unzip.exe" > /dev/null
server_pid=$(scripts/start-content-server.sh 8443 "$work/server.log" "$host/server/vigilor-content-server" \
    --content "$work/content" --cert "$work/pki/server.pem" --key "$work/pki/server.key")
trap 'kill $server_pid 2>/dev/null || true' EXIT
scripts/photograph-windows-program.sh "$stick/vigilor-$version/vigilor.exe" "$work/release-main-window.png" \
    "$work/program.log" || { cat "$work/program.log"; fail "the unpacked program showed no main window"; }
echo "ok: the unpacked program showed its main window ($work/release-main-window.png)"

# Signed with a throwaway code-signing certificate, the passphrase from a file.
keys=$work/signing
rm -rf "$keys"
mkdir -p "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/ca.key" -out "$keys/ca.pem" -days 2 \
    -subj "/CN=Vigilor Test Signing CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" 2> /dev/null
echo "throwaway passphrase" > "$keys/pass"
openssl req -newkey rsa:2048 -keyout "$keys/key.pem" -passout "file:$keys/pass" -out "$keys/leaf.csr" \
    -subj "/CN=Vigilor Test League" 2> /dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$keys/leaf.ext"
openssl x509 -req -in "$keys/leaf.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" -CAcreateserial -days 2 \
    -extfile "$keys/leaf.ext" -out "$keys/cert.pem" 2> /dev/null
VIGILOR_SIGN_CERT=$keys/cert.pem VIGILOR_SIGN_KEY=$keys/key.pem VIGILOR_SIGN_PASS_FILE=$keys/pass \
    VIGILOR_RELEASE_DIR=$work/second ./release-windows.sh "${args[@]}" > "$work/release-signed.log" ||
    { cat "$work/release-signed.log"; fail "signed release build"; }
signed=$work/signed
rm -rf "$signed"
mkdir -p "$signed"
unzip -q "$work/second/$name" -d "$signed"
program=$signed/vigilor-$version/vigilor.exe
osslsigncode verify -CAfile "$keys/ca.pem" -in "$program" > "$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "the signed program does not verify"; }
cp "$program" "$work/tampered.exe"
# One byte of the code section, well inside the file, flipped.
offset=$(( $(stat -c %s "$work/tampered.exe") / 2 ))
byte=$(od -An -tu1 -j "$offset" -N1 "$work/tampered.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(( byte ^ 255 )))" | dd of="$work/tampered.exe" bs=1 seek="$offset" conv=notrunc 2> /dev/null
if osslsigncode verify -CAfile "$keys/ca.pem" -in "$work/tampered.exe" > "$work/verify-tampered.log" 2>&1; then
    fail "a flipped byte still verifies"
fi
echo "ok: the signed program verifies against the throwaway CA; a flipped byte does not"
echo "release test passed"
