#!/usr/bin/env bash
# The installer under Wine, in a fresh prefix of its own: install, check every
# file and registry value with its type, use the installed module as EapHost
# does (loaded by the registered path, from another folder), upgrade, refuse a
# downgrade, remove, and check that nothing of ours is left.
#   msi_install.sh MSI WORK VERSION AUTHOR_ID BINDIR EXAMPLES CMAKE BUILD_MSI_ARGS
set -euo pipefail
msi=$1 work=$2 version=$3 author=$4 bin=$5 examples=$6 cmake=$7
IFS=';' read -ra build_msi <<< "$8"

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { [[ "$1" == *"$2"* ]] || fail "expected \"$2\" in:"$'\n'"$1"; }
exited() { [ "$out_rc" = "$1" ] || fail "exit $out_rc, expected $1: $out"; }

# The package: the tables an install needs, every component 64-bit (else its
# values land under Wow6432Node, where the 64-bit module never looks).
msiinfo export "$msi" Property | tr -d '\r' | grep -qx "ProductVersion"$'\t'"$version" || fail "not version $version"
tables=$(msiinfo tables "$msi")
for table in Component Directory Feature File Registry RemoveFile Upgrade LaunchCondition; do
  grep -qx "$table" <<< "$tables" || fail "no $table table"
done
msiinfo export "$msi" Component | tail -n +4 | awk -F'\t' 'int($4 / 256) % 2 != 1 { print; bad = 1 } END { exit bad }' \
  || fail "a component without the 64-bit attribute"
if msiinfo export "$msi" Registry | grep -qi wow6432node; then fail "a Wow6432Node path"; fi

rm -rf "$work"
mkdir -p "$work/host"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No display: a dialog cannot open, so none can wait for a user.
unset DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i </dev/null >/dev/null 2>&1 || true
wineserver -p60 </dev/null >/dev/null 2>&1 || true

winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
# run VAR PROGRAM ARGS...: VAR gets the output (stdout and stderr, CR removed)
# and the exit code (msiexec's cut to 8 bits by Wine) in VAR_rc.
run() {
  local name_=$1 text_ rc_=0
  shift
  # Into a file, not a pipe: services that msiexec starts outlive it and
  # would hold a pipe open.
  (cd "$work" && wine "$@" </dev/null >"$work/output" 2>&1) || rc_=$?
  text_=$(<"$work/output")
  printf -v "$name_" '%s' "${text_//$'\r'/}"
  printf -v "${name_}_rc" '%s' "$rc_"
}
regdump() { run dump reg query "$1" /s; }
methods="HKLM\\SYSTEM\\CurrentControlSet\\Services\\EapHost\\Methods\\$author"
uninstall="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
drive="$WINEPREFIX/drive_c"
installed="$drive/Program Files/Velto/Wireless"
installed_win='C:\Program Files\Velto\Wireless'

# The user-interface half of one method, as the registry lists it.
ui_values() {
  printf '%s\n' "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EapHost\\Methods\\$author\\$1" \
    "    PeerConfigUIPath    REG_EXPAND_SZ    $installed_win\\veltoeap.dll" \
    "    PeerIdentityPath    REG_EXPAND_SZ    $installed_win\\veltoeap.dll" \
    "    PeerInteractiveUIPath    REG_EXPAND_SZ    $installed_win\\veltoeap.dll" \
    "    PeerInvokePasswordDialog    REG_DWORD    0x0" \
    "    PeerInvokeUsernameDialog    REG_DWORD    0x0"
}
registration() {  # the whole author key, optionally with the authentication half
  printf '\n%s\n    (Default)    REG_SZ    Velto\n' "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EapHost\\Methods\\$author"
  local type name props
  for type in 18 21 23; do
    printf '\n'
    ui_values $type
    if [ -n "${1:-}" ]; then
      case $type in 18) name=EAP-SIM props=0x22c00be ;; 21) name=EAP-TTLS props=0x63c80bf ;; 23) name=EAP-AKA props=0x22c00be ;; esac
      printf '    PeerDllPath    REG_EXPAND_SZ    %s\n    Properties    REG_DWORD    %s\n    PeerFriendlyName    REG_SZ    %s (Velto)\n' \
        "$1" $props $name
    fi
  done
}
# Sorted, blank lines left out: Wine lists values in the order they were written.
same() { diff <(grep -v '^$' <<< "$1" | sort) <(grep -v '^$' <<< "$2" | sort) >&2 || fail "$3"; }

# Install.
run out msiexec /i "$(winpath "$msi")" /qn
exited 0
# Each file as built, each library with the package's version in its
# version resource.
common="$drive/Program Files/Common Files/Velto/WirelessCommon"
for file in "$installed"/{veltoeap.dll,authdialogs.dll,simcore.dll,eapcfg.exe} "$common/cfgbridge.dll"; do
  cmp "$bin/$(basename "$file")" "$file" || fail "$file not installed as built"
  [[ $file == *.exe ]] || strings -el "$file" | grep -qx "$version" || fail "$file is not version $version"
done
regdump "$methods"
same "$dump" "$(registration)" "the registration of the user-interface half"
regdump 'HKLM\SOFTWARE\Velto'
same "$dump" "$(printf '%s\n    TamrixBinDir    REG_SZ    %s\\' 'HKEY_LOCAL_MACHINE\SOFTWARE\Velto\Wireless' \
  "$installed_win")" "TamrixBinDir"
regdump 'HKLM\SOFTWARE\Wow6432Node\Velto'
[ "$dump_rc" != 0 ] || fail "values under Wow6432Node"

# The installed module, loaded by the path EapHost reads, by a program in a
# folder of its own: the siblings come from "TamrixBinDir".
regdump "$methods\\21"
module=$(sed -n 's/^ *PeerConfigUIPath *REG_EXPAND_SZ *//p' <<< "$dump")
cp "$bin/eapcfg.exe" "$work/host/"
cp "$examples/ttls-saved.xml" "$examples/sim.xml" "$work/"
host=("$work/host/eapcfg.exe" --module "$module")
run out "${host[@]}" import ttls-saved.xml -o ttls.cdata
exited 0
expect "$out" "ttls-saved.xml -> ttls.cdata (1520 bytes)"
run out "${host[@]}" export ttls.cdata
exited 0
expect "$out" "<identity encrypted=\"false\">CORP\\alice</identity>"
# The identity export of a SIM record: simcore under Wine's stub winscard
# finds no reader, and the smart-card dialog cannot open without a display:
# the module reports a cancel, which eapcfg explains. A sibling that could not
# be bound would end the program instead.
run out "${host[@]}" import sim.xml -o sim.cdata
exited 0
run out "${host[@]}" identity sim.cdata
exited 1
expect "$out" "the identity dialog could not open: no display"
run out "$installed/eapcfg.exe" --version
exited 0
expect "$out" "eapcfg $version"
run out "$installed/eapcfg.exe" wlan-profile wlan.xml --ssid "Corp & Lab" --record sim.cdata
exited 0
expect "$(tr -d '\r' < "$work/wlan.xml")" "<AuthorId xmlns=\"http://www.microsoft.com/provisioning/EapCommon\">$author</AuthorId>"

# Another installer's value under our keys (the authentication half's own):
# kept by the upgrade and by the removal, which take only what we wrote.
key="HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EapHost\\Methods\\$author"
foreign='    PeerDllPath    REG_EXPAND_SZ    C:\other\auth.dll'
run out reg add "$methods\\21" /v PeerDllPath /t REG_EXPAND_SZ /d 'C:\other\auth.dll'
exited 0
IFS=. read -r major minor patch <<< "$version"
next="$major.$minor.$((patch + 1))"
"$cmake" -DVERSION="$next" -DOUT="$work/next.msi" "${build_msi[@]}" >/dev/null
run out msiexec /i "$(winpath "$work/next.msi")" /qn
exited 0
regdump "$uninstall"
expect "$(grep -c 'DisplayName *REG_SZ *veltoeap$' <<< "$dump")" 1
expect "$dump" "DisplayVersion    REG_SZ    $next"
regdump "$methods"
same "$dump" "$(registration)"$'\n'"$foreign" "the registration after the upgrade"

# A downgrade is refused by the launch condition (1603, cut to 67; Wine
# logs no message text, so the message is checked in the package) and leaves
# the newer version.
expect "$(msiinfo export "$msi" LaunchCondition)" \
  $'NOT WIX_DOWNGRADE_DETECTED\tA newer version of veltoeap is already installed'
run out msiexec /i "$(winpath "$msi")" /qn
exited 67
regdump "$uninstall"
expect "$dump" "DisplayVersion    REG_SZ    $next"
cmp "$bin/veltoeap.dll" "$installed/veltoeap.dll" || fail "the refused downgrade touched the module"

# Removal leaves nothing of ours, and the other installer's value.
gone() {
  for folder in "$drive/Program Files/Velto" "$(dirname "$common")"; do
    [ ! -e "$folder" ] || fail "left behind: $(find "$folder")"
  done
  regdump 'HKLM\SOFTWARE\Velto'
  [ "$dump_rc" != 0 ] || fail "left behind: $dump"
  regdump "$methods"
  if [ -z "$1" ]; then [ "$dump_rc" != 0 ] || fail "left behind: $dump"; else same "$dump" "$1" "what is left"; fi
  regdump "$uninstall"
  if grep -q veltoeap <<< "$dump"; then fail "a product entry is left"; fi
}
run out msiexec /x "$(winpath "$work/next.msi")" /qn
exited 0
gone "$key\\21"$'\n'"$foreign"
run out reg delete "$methods" /f
exited 0

# With the authentication half's module named: both halves, kept by an
# upgrade that does not name it again, and removed with the product.
auth='%SystemRoot%\system32\veltoauth.dll'
run out msiexec /i "$(winpath "$msi")" /qn "AUTH_DLL=$auth"
exited 0
run out msiexec /i "$(winpath "$work/next.msi")" /qn
exited 0
regdump "$methods"
same "$dump" "$(registration "$auth")" "the registration of both halves"
run out msiexec /x "$(winpath "$work/next.msi")" /qn
exited 0
gone ""
echo "installed, used, upgraded, downgrade refused, removed: as expected"
