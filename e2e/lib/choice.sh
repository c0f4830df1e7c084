# Helpers of the choice and upgrade cases and demo section (sourced after
# wine.sh and products.sh).

DEMO2_CODE='{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E21}'
# The related-products table's row for the demo's upgrade code.
DEMO_TABLE_CODES='{CA3957A3-8CBC-4989-A6AB-B69E20994A9B};{CC8FBE80-A51C-4AF0-A527-6BC3A5C8B760};'

# logged_property LOG NAME: the value in the verbose log's property dump.
logged_property() {
    tr -d '\r' <"$1" 2>/dev/null | sed -n "s/^Property(S): $2 = //p" | tail -1
}

# The engine's packed form of a GUID: the first three groups reversed, the
# last two swapped by characters within each byte.
squash_guid() {
    local g=${1//[\{\}]/} out="" i part parts
    IFS=- read -r -a parts <<<"$g"
    for i in 0 1 2; do out+=$(rev <<<"${parts[$i]}"); done
    for part in "${parts[3]}" "${parts[4]}"; do
        for ((i = 0; i < ${#part}; i += 2)); do out+=${part:i+1:1}${part:i:1}; done
    done
    echo "$out"
}

# product_state CODE: "registered" or "absent", from the installer's product
# registration (under Classes, one for both registry views).
product_state() {
    if "$WINE" reg query "HKLM\\Software\\Classes\\Installer\\Products\\$(squash_guid "$1")" \
        </dev/null >/dev/null 2>&1; then
        echo registered
    else
        echo absent
    fi
}

# The folder of the demo product's files.
demo_dir() { dirname "$(installed_file "$1" "Vantor Demo")"; }
