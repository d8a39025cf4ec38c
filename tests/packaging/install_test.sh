#!/usr/bin/env bash
# cmake --install into a staging directory (DESTDIR), under both usual prefixes: the application, the fonts' licence,
# the desktop entry with its icon, and the udev rule land where a Linux desktop looks for them, and nothing else.
# Usage: install_test.sh <build-dir> <source-dir>
set -euo pipefail
build="$1"
source="$2"

stage="$(mktemp -d /tmp/packaging-install-test.XXXXXX)"
trap 'rm -rf "$stage"' EXIT

failures=0
fail() { echo "FAIL ($prefix): $*" >&2; failures=$((failures + 1)); }

# The identities the engine opens, read from its header: the rule must give access to exactly those.
identities=()
for side in normal boot; do
    vendor="$(sed -n "s/.*${side}Vendor *= *0x\([0-9A-Fa-f]\{4\}\).*/\1/p" "$source/engine/DeviceFormats.h")"
    product="$(sed -n "s/.*${side}Product *= *0x\([0-9A-Fa-f]\{4\}\).*/\1/p" "$source/engine/DeviceFormats.h")"
    [ -n "$vendor" ] && [ -n "$product" ] || { echo "cannot read the $side identity from DeviceFormats.h" >&2; exit 1; }
    identities+=("${vendor,,}:${product,,}")    # sysfs shows them in lower case
done

for prefix in /usr/local /usr; do
    root="$stage/root-${prefix//\//_}"
    DESTDIR="$root" cmake --install "$build" --prefix "$prefix" > "$stage/install.log" 2>&1 \
        || { cat "$stage/install.log" >&2; fail "cmake --install failed"; continue; }
    p="$root$prefix"

    expected="$(printf '%s\n' \
        "$p/bin/OlvoAssistant" \
        "$p/lib/udev/rules.d/60-olvo-assistant.rules" \
        "$p/share/applications/olvo-assistant.desktop" \
        "$p/share/doc/OlvoAssistant/SourceSansPro-LICENSE.md" \
        "$p/share/icons/hicolor/256x256/apps/olvo-assistant.png" | sort)"
    installed="$(find "$root" -type f | sort)"
    [ "$installed" = "$expected" ] \
        || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$installed"))"

    # The application: the one on the system's hidapi, nothing pointing back into the build tree.
    app="$p/bin/OlvoAssistant"
    if [ -x "$app" ]; then
        readelf -d "$app" | grep -q 'NEEDED.*libhidapi-hidraw' \
            || fail "the application does not use the system's hidapi"
        ! readelf -d "$app" | grep -q -E 'RPATH|RUNPATH' || fail "the application keeps a run path"
        ! ldd "$app" | grep -q 'not found' || fail "libraries missing: $(ldd "$app" | grep 'not found')"
    else
        fail "no executable application"
    fi

    cmp -s "$p/share/doc/OlvoAssistant/SourceSansPro-LICENSE.md" "$build/app/SourceSansPro-LICENSE.md" \
        || fail "the fonts' licence is not the one that ships with the fonts"

    # The desktop entry is valid and names what was installed.
    desktop="$p/share/applications/olvo-assistant.desktop"
    if [ -f "$desktop" ]; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the entry"
        exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
        icon_name="$(sed -n 's/^Icon=//p' "$desktop")"
        [ -x "$p/bin/$exec_name" ] || fail "Exec=$exec_name is not the installed program"
        [ -f "$p/share/icons/hicolor/256x256/apps/$icon_name.png" ] || fail "Icon=$icon_name is not the installed icon"
    fi

    # Icon themes want the size the directory says.
    icon="$p/share/icons/hicolor/256x256/apps/olvo-assistant.png"
    [ "$(identify -format '%m %wx%h' "$icon" 2>/dev/null)" = "PNG 256x256" ] || fail "the icon is not a 256x256 PNG"

    # One rule per identity: the hidraw node, the user at the seat (uaccess, applied by 73-seat-late.rules).
    rule="$p/lib/udev/rules.d/60-olvo-assistant.rules"
    for identity in "${identities[@]}"; do
        line="SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"${identity%:*}\", ATTRS{idProduct}==\"${identity#*:}\""
        line+=", TAG+=\"uaccess\""
        grep -qxF "$line" "$rule" || fail "no rule for $identity: want the line $line"
    done
    [ "$(grep -c -v -E '^(#|$)' "$rule")" -eq "${#identities[@]}" ] || fail "the rule file holds other rules"
done

[ "$failures" -eq 0 ] && echo "installed as expected under /usr/local and /usr"
exit $((failures > 0))
