#!/usr/bin/env bash
# The release archive (tools/dist/make-dist.py, ./run dist) from the built
# Windows trees and the host tree's Linux checker:
# - made twice, it is the same bytes; a second x64 tree in another folder
#   builds the same DLLs, patchinfo.exe and vantor-wirecheck.exe, byte for
#   byte as shipped;
# - it holds exactly the expected files below one top folder, and SHA256SUMS
#   matches every one of them;
# - it is enough for an author: its README is the repository's without the
#   part for those who build the project, names nothing of the repository
#   that the archive does not hold, and every file of the archive it names
#   is there; unpacked with unzip, the Linux checker runs and the sample
#   application carries its record;
# - each binary carries its version resource (VERSION, company, product,
#   description, file name) and still exports what the build exports;
# - signed with a throwaway certificate, every binary verifies, a changed one
#   does not, the signed archive is reproducible too, and a password-protected
#   key works.
# Last line: "dist: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); printf 'dist: FAIL %s\n' "$*"; }
finish() {
    printf 'dist: %d passed, %d failed\n' "$passed" "$failed"
    [ "$failed" = 0 ]
    exit
}

unset VANTOR_SIGN_CERT VANTOR_SIGN_KEY VANTOR_SIGN_PASS
VERSION=$(head -1 VERSION)
TOP=vantor-installer-extensions-$VERSION
WORK=$ROOT/build/tier-dist
rm -rf "$WORK"
mkdir -p "$WORK"

make_dist() { # out-folder [env...]
    local out=$1
    shift
    env "$@" python3 tools/dist/make-dist.py --x86 build/x86 --x64 build/x64 --linux build/host \
        --out "$out" >"$out.log" 2>&1
}

# ---- made twice: the same bytes
if ! make_dist "$WORK/a"; then bad "make-dist failed: $(cat "$WORK/a.log")"; finish; fi
sleep 1 # a time that leaked into the archive would differ now
make_dist "$WORK/b" || bad "second make-dist failed: $(cat "$WORK/b.log")"
zip=$WORK/a/$TOP.zip
if cmp -s "$zip" "$WORK/b/$TOP.zip"; then ok; else bad "two archives of the same trees differ"; fi

# ---- contents
binaries=(VantorSetup.dll VantorDrivers.dll patchinfo.exe vantor-wirecheck.exe)
expected=$( {
    echo README.md
    echo SHA256SUMS
    git ls-files package
    for arch in x86 x64; do
        for b in "${binaries[@]}"; do echo "$arch/$b"; done
        echo "sample-application/$arch/rondo32.exe"
    done
    echo linux/vantor-wirecheck
} | sort)
listed=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
if [ "$(sed "s|^$TOP/||" <<<"$listed" | sort)" = "$expected" ] && ! grep -qv "^$TOP/" <<<"$listed"; then
    ok
else
    bad "archive contents differ from the expected list:"$'\n'"$(diff <(sed "s|^$TOP/||" <<<"$listed" | sort) <(echo "$expected"))"
fi
if [ "$(sed "s|^$TOP/||" <<<"$listed")" = "$(sed "s|^$TOP/||" <<<"$listed" | LC_ALL=C sort)" ]; then ok; else
    bad "archive entries are not in sorted order"
fi

# ---- sums
# Unpacked as an author unpacks it: unzip keeps the programs' modes.
unpack() { # zip folder
    rm -rf "$2"
    mkdir -p "$2"
    unzip -q "$1" -d "$2"
}
unpack "$zip" "$WORK/a.x"
dir=$WORK/a.x/$TOP
if (cd "$dir" && sha256sum --quiet -c SHA256SUMS) >"$WORK/sums.log" 2>&1; then ok; else
    bad "SHA256SUMS does not match: $(cat "$WORK/sums.log")"
fi
if [ "$(awk '{print $2}' "$dir/SHA256SUMS" | sort)" = "$(grep -vx SHA256SUMS <<<"$expected")" ]; then ok; else
    bad "SHA256SUMS does not list every other file of the archive"
fi

# ---- enough for an author
readme=$dir/README.md
# The repository's README without its source-only part and the blank line
# after it.
awk '/^<!-- source only: not in the release archive -->$/ { skip = 1 }
     skip && /^<!-- end of source only -->$/ { skip = 0; blank = 1; next }
     blank && /^$/ { blank = 0; next }
     { blank = 0 }
     !skip' README.md >"$WORK/README.expected"
if grep -qx '<!-- source only: not in the release archive -->' README.md \
    && cmp -s "$WORK/README.expected" "$readme"; then
    ok
else
    bad "the archive's README is not README.md without its source-only part"
fi
# What an author cannot follow from the archive: pattern @ what it is. The
# markers of generated parts (HTML comments, which no reader sees) aside. A
# pattern grep cannot read fails the case.
while IFS='@' read -r pattern what; do
    grep -nE -- "$pattern" "$readme" >"$WORK/readme-lines.txt"
    found=$?
    if [ $found -gt 1 ]; then
        bad "grep cannot read the pattern for $what: $pattern"
    elif grep -vE '^[0-9]+:<!-- .* -->$' "$WORK/readme-lines.txt" >"$WORK/readme-names.txt"; then
        bad "the archive's README names $what, which the archive does not hold:"$'\n'"$(cat "$WORK/readme-names.txt")"
    else
        ok
    fi
done <<'EOF'
\./run\b@the project's front door
(^|[^A-Za-z0-9_.$/-])(build|dist|e2e|tools|common|setup|drivers|platform|tests|fuzz|cmake)/@a folder of the repository
MAINTAINING\.md@the maintainers' guide
EOF
# Every path of the archive that the README names (in backquotes, or below
# $VANTOR, the walkthrough's name for the unpacked archive), $ARCH as either
# bitness, is in the archive.
named=0
missing=()
while IFS= read -r path; do
    for arch in x86 x64; do
        named=$((named + 1))
        [ -e "$dir/${path//\$ARCH/$arch}" ] || missing+=("${path//\$ARCH/$arch}")
    done
done < <(grep -oE '(`|\$VANTOR/)(x86|x64|linux|package|sample-application|\$ARCH)/[A-Za-z0-9_.$/-]*' "$readme" \
    | sed -E 's/^(`|\$VANTOR\/)//; s|/$||' | sort -u)
if [ "$named" -ge 10 ] && [ ${#missing[@]} = 0 ]; then ok; else
    bad "the archive's README names $((named / 2)) paths of the archive (want 5 or more); not in it: ${missing[*]:-none}"
fi
# Unpacked, the Linux checker runs (no package given: usage, exit 2), and the
# sample application carries one record as shipped.
"$dir/linux/vantor-wirecheck" >"$WORK/checker.log" 2>&1
rc=$?
if [ $rc = 2 ] && grep -qi 'usage' "$WORK/checker.log"; then ok; else
    bad "linux/vantor-wirecheck of the archive: exit $rc (want 2 and its usage): $(head -5 "$WORK/checker.log")"
fi
for arch in x86 x64; do
    out=$(build/host/tools/patchinfo show "$dir/sample-application/$arch/rondo32.exe" 2>&1)
    if [ "$(grep -c '^  offset [0-9]*: converter 0, port 0, country 0, serial "", version 0$' <<<"$out")" = 1 ]; then
        ok
    else
        bad "sample-application/$arch/rondo32.exe does not carry one record as shipped: $out"
    fi
done

# ---- version resources, and the exports survive the stripping
for arch in x86 x64; do
    tool=$([ $arch = x86 ] && echo i686 || echo x86_64)-w64-mingw32-objdump
    for b in "${binaries[@]}"; do
        file=$dir/$arch/$b
        info=$(python3 tools/dist/peversion.py "$file" 2>&1)
        missing=""
        for line in "FileVersion (fixed): $VERSION.0" "ProductVersion (fixed): $VERSION.0" \
            "FileVersion: $VERSION" "ProductVersion: $VERSION" "CompanyName: Vantor Technology" \
            "ProductName: Vantor installer extensions" "OriginalFilename: $b"; do
            grep -qxF "$line" <<<"$info" || missing+=" [$line]"
        done
        grep -qE '^FileDescription: .{10,}' <<<"$info" || missing+=" [FileDescription]"
        if [ -z "$missing" ]; then ok; else bad "$arch/$b version resource lacks$missing:"$'\n'"$info"; fi
        if [ "${b##*.}" = dll ]; then
            exports() { "$tool" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p'; }
            if [ "$(exports "$file")" = "$(exports "build/$arch/$b")" ] && [ -n "$(exports "$file")" ]; then
                ok
            else
                bad "$arch/$b in the archive exports differently from the build"
            fi
        fi
    done
done

# ---- a second build of the same sources in another folder: the same bytes
# once stripped as the archive ships them. Compiled for real (no compiler
# cache): a cache that ignores the prefix maps (CCACHE_NOHASHDIR) may hand
# either tree objects whose debug information names another folder, which is
# why the debug information itself is not compared.
second=$WORK/x64
if cmake -S "$ROOT" -B "$second" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" -DVANTOR_DIST_DIR="$second/dist" \
    -DVANTOR_WIRECHECK="$ROOT/build/host/tools/wirecheck/vantor-wirecheck" \
    >"$WORK/x64.configure.log" 2>&1 \
    && CCACHE_DISABLE=1 cmake --build "$second" -j2 --target VantorSetup VantorDrivers patchinfo vantor-wirecheck \
        >"$WORK/x64.build.log" 2>&1; then
    for file in VantorSetup.dll VantorDrivers.dll tools/patchinfo.exe tools/wirecheck/vantor-wirecheck.exe; do
        for tree in build/x64 "$second"; do
            # No link time in the image itself (the strip below would hide it).
            header=$(x86_64-w64-mingw32-objdump -p "$tree/$file")
            if grep -qE '^Time/Date\s+Thu Jan  1 00:00:00 1970$' <<<"$header"; then
                ok
            else
                bad "$tree/$file carries a link time stamp"
            fi
            SOURCE_DATE_EPOCH=1 x86_64-w64-mingw32-strip --strip-debug -o "$WORK/$(basename "$file").$(basename "$(dirname "$tree")")" "$tree/$file"
        done
        if cmp -s "$WORK/$(basename "$file").build" "$WORK/$(basename "$file").tier-dist"; then ok; else
            bad "build/x64/$file and the same built in $second differ"
        fi
    done
else
    bad "second x64 build failed: $(tail -20 "$WORK/x64.build.log" "$WORK/x64.configure.log" 2>/dev/null)"
fi

# The Linux checker likewise: a second host tree in another folder links the
# same program (its build ID is a hash over every byte, debug information
# included), the same once stripped as the archive ships it.
second=$WORK/host
if cmake -S "$ROOT" -B "$second" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_WERROR=ON \
    >"$WORK/host.configure.log" 2>&1 \
    && cmake --build "$second" -j2 --target vantor-wirecheck >"$WORK/host.build.log" 2>&1; then
    for tree in build/host "$second"; do
        strip --strip-debug -o "$WORK/vantor-wirecheck.$(basename "$(dirname "$tree")")" \
            "$tree/tools/wirecheck/vantor-wirecheck"
    done
    if cmp -s "$WORK/vantor-wirecheck.build" "$WORK/vantor-wirecheck.tier-dist"; then ok; else
        bad "build/host/tools/wirecheck/vantor-wirecheck and the same built in $second differ once stripped"
    fi
else
    bad "second host build failed: $(tail -20 "$WORK/host.build.log" "$WORK/host.configure.log" 2>/dev/null)"
fi

# ---- signing with a throwaway certificate
keys=$WORK/keys
mkdir -p "$keys"
if openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Vantor Test Signing" \
    -keyout "$keys/key.pem" -out "$keys/cert.pem" >"$keys/openssl.log" 2>&1; then
    # After the certificate's start, so that the signing time lies within it.
    epoch=$(($(date +%s) + 60))
    sign=(SOURCE_DATE_EPOCH=$epoch VANTOR_SIGN_CERT=$keys/cert.pem VANTOR_SIGN_KEY=$keys/key.pem)
    if make_dist "$WORK/s1" "${sign[@]}" && make_dist "$WORK/s2" "${sign[@]}"; then
        if cmp -s "$WORK/s1/$TOP.zip" "$WORK/s2/$TOP.zip"; then ok; else bad "two signed archives differ"; fi
        unpack "$WORK/s1/$TOP.zip" "$WORK/s1.x"
        sdir=$WORK/s1.x/$TOP
        if (cd "$sdir" && sha256sum --quiet -c SHA256SUMS) >/dev/null 2>&1; then ok; else
            bad "SHA256SUMS of the signed archive does not match its binaries"
        fi
        for arch in x86 x64; do
            for b in "${binaries[@]}"; do
                if osslsigncode verify -CAfile "$keys/cert.pem" -in "$sdir/$arch/$b" >"$keys/verify.log" 2>&1; then
                    ok
                else
                    bad "signed $arch/$b does not verify: $(tail -5 "$keys/verify.log")"
                fi
            done
        done
        # One byte of the code changed after signing: verification must fail.
        tampered=$keys/tampered.dll
        cp "$sdir/x64/VantorSetup.dll" "$tampered"
        printf '\xCC' | dd of="$tampered" bs=1 seek=2048 conv=notrunc status=none
        if osslsigncode verify -CAfile "$keys/cert.pem" -in "$tampered" >/dev/null 2>&1; then
            bad "a changed signed DLL still verifies"
        else
            ok
        fi
        if cmp -s "$WORK/s1/$TOP.zip" "$zip"; then bad "the signed archive equals the unsigned one"; else ok; fi
    else
        bad "signed make-dist failed: $(cat "$WORK/s1.log" "$WORK/s2.log" 2>/dev/null)"
    fi
    # A key protected by a password, given through VANTOR_SIGN_PASS.
    if openssl pkey -in "$keys/key.pem" -aes256 -passout pass:throwaway -out "$keys/key-enc.pem" 2>/dev/null \
        && make_dist "$WORK/s3" SOURCE_DATE_EPOCH=$epoch VANTOR_SIGN_CERT="$keys/cert.pem" \
            VANTOR_SIGN_KEY="$keys/key-enc.pem" VANTOR_SIGN_PASS=throwaway; then
        unpack "$WORK/s3/$TOP.zip" "$WORK/s3.x"
        if osslsigncode verify -CAfile "$keys/cert.pem" -in "$WORK/s3.x/$TOP/x86/VantorDrivers.dll" >/dev/null 2>&1; then
            ok
        else
            bad "a binary signed with a password-protected key does not verify"
        fi
    else
        bad "signing with a password-protected key failed: $(cat "$WORK/s3.log" 2>/dev/null)"
    fi
    # Half a signing configuration is refused, not ignored.
    if make_dist "$WORK/s4" VANTOR_SIGN_CERT="$keys/cert.pem"; then
        bad "make-dist accepted a certificate without its key"
    else
        ok
    fi
else
    bad "openssl could not make a throwaway certificate: $(cat "$keys/openssl.log")"
fi

finish
