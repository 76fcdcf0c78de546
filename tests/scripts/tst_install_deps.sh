#!/bin/sh
# SPDX-License-Identifier: MIT
# scripts/install-deps against fake apt tools: what it would install for each command on
# each kind of machine, and that it never goes ahead with a removal or without the rights
# to install. The real install runs in every `make test`; these are the cases a test
# machine never meets.
#
#     tests/scripts/tst_install_deps.sh path/to/scripts/install-deps
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

# A PATH of its own: the few real tools the script needs, and fakes for the rest. The fakes
# read the machine's state from files and append every apt call to a log.
bin="$work/bin"
mkdir -p "$bin"
for tool in sh grep sed tr cat; do
    ln -s "$(command -v "$tool")" "$bin/$tool"
done
cat >"$bin/dpkg-query" <<'FAKE'
#!/bin/sh
# dpkg-query -W -f='${Status}' NAME
for name; do :; done
grep -qx "$name" "$FAKE/installed" 2>/dev/null && printf 'install ok installed'
exit 0
FAKE
cat >"$bin/apt-get" <<'FAKE'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/log"
case " $* " in *" -s "*) cat "$FAKE/plan" 2>/dev/null ;; esac
exit 0
FAKE
cat >"$bin/apt-cache" <<'FAKE'
#!/bin/sh
for name; do :; done
[ "$name" = pipewire-alsa ] && echo "Conflicts: pulseaudio"
exit 0
FAKE
cat >"$bin/id" <<'FAKE'
#!/bin/sh
cat "$FAKE/uid"
FAKE
cat >"$bin/sudo" <<'FAKE'
#!/bin/sh
echo "sudo $*" >>"$FAKE/log"
exec "$@"
FAKE
chmod +x "$bin"/*

# check NAME PURPOSE UID SUDO INSTALLED PLAN SERVERS STATUS MUST MUST_NOT
#   INSTALLED: packages already there; PLAN: what the simulation prints; MUST: words that
#   must appear in the apt calls or the script's output; MUST_NOT: words no apt call has.
check() {
    name=$1 purpose=$2 uid=$3 sudo=$4 installed=$5 plan=$6 servers=$7 status=$8 must=$9
    shift 9
    must_not=$1
    export FAKE="$work/$name"
    mkdir -p "$FAKE"
    : >"$FAKE/log"
    printf '%s\n' $installed >"$FAKE/installed"
    printf '%s\n' "$plan" >"$FAKE/plan"
    echo "$uid" >"$FAKE/uid"
    if [ "$sudo" = yes ]; then chmod +x "$bin/sudo"; else chmod -x "$bin/sudo"; fi
    out=$(PATH="$bin" TANDREL_SOUND_SERVERS="$servers" "$script" "$purpose" 2>&1)
    got=$?
    calls=$(cat "$FAKE/log")
    seen="$calls $out"
    ok=yes
    if [ "$got" -ne "$status" ]; then
        echo "FAIL $name: exit status $got, expected $status"; ok=no
    fi
    for word in $must; do
        case " $seen " in *[!a-z0-9-]"$word"[!a-z0-9-]*) ;; *)
            echo "FAIL $name: '$word' not seen"; ok=no ;;
        esac
    done
    for word in $must_not; do
        case " $calls " in *[!a-z0-9-]"$word"[!a-z0-9-]*)
            echo "FAIL $name: '$word' seen"; ok=no ;;
        esac
    done
    if [ $ok = yes ]; then
        passes=$((passes + 1))
    else
        failures=$((failures + 1))
        printf '  apt calls and output:\n%s\n' "$seen" | sed 's/^/    /'
    fi
}

# Everything the program builds with, the whole test set: the installed lists below.
all_run="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools
qt6-qpa-plugins qt6-wayland libgl-dev libxkbcommon-dev libglib2.0-dev libgstreamer1.0-dev
libgstreamer-plugins-base1.0-dev libpulse-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad gstreamer1.0-libav gstreamer1.0-pulseaudio
fonts-wine"

#     name                purpose uid sudo installed        plan           servers status
check run-fresh           run     0   no   ""               ""             ""      0 \
    "install qt6-base-dev gstreamer1.0-libav fonts-wine cmake" \
    "xvfb weston nautilus clang pulseaudio pipewire pipewire-pulse wireplumber sox xdotool
    libgtest-dev"
check run-installed       run     0   no   "$all_run"       ""             ""      0 \
    "" "apt-get"
check test-fresh          test    0   no   ""               ""             ""      0 \
    "install qt6-base-dev xvfb weston nautilus clang sox pulseaudio pulseaudio-utils" \
    "pipewire pipewire-pulse wireplumber"
check test-pipewire-desk  test    0   no   "pipewire-pulse" ""             ""      0 \
    "install pipewire wireplumber dbus-daemon pulseaudio-utils" "pulseaudio"
check test-both           test    0   no   ""               ""  "pulseaudio pipewire" 0 \
    "pulseaudio pipewire pipewire-pulse wireplumber" ""
check removal-refused     test    0   no   "pipewire-alsa"  "Remv pipewire-alsa [0.3.65]
Inst pulseaudio (16.1)"                                     "pulseaudio" 1 \
    "pipewire-alsa pulseaudio TANDREL_SOUND_SERVERS=pipewire" "-y"
check no-root-no-sudo     run     1000 no  ""               ""             ""      1 \
    "qt6-base-dev root" "apt-get"
check no-root-with-sudo   run     1000 yes ""               ""             ""      0 \
    "sudo install" ""
check unknown-server      test    0   no   ""               ""             "jack"  2 \
    "jack" "apt-get"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
