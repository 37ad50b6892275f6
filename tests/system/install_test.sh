#!/usr/bin/env bash
# Kadrix installed like a desktop application: `cmake --install` into a
# private prefix puts the programs, a valid desktop entry handling kadrix://
# links, the AppStream description, the icon and the manual pages where a
# desktop looks; the installed kadrix, started with that prefix on the
# desktop's paths, saves a full-screen capture from a link the desktop opens
# through the installed entry, which stays the handler (a copy of ours in the
# user's folder that would hide it goes, and none is written). A kadrix run
# from the build folder still registers itself. The Debian package holds the
# same files, declares what its programs need, passes lintian with hardened
# programs, and comes out byte for byte the same from a second clone of the
# commit at another path, built in another folder and packaged under another
# umask.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
build=$(cd "$SYS_BIN/.." && pwd)
[ -f "$build/cmake_install.cmake" ] || fail "$build is no build folder to install from"
sys_begin

# The second clone: the commit of the sources under test, with what the
# working tree changes on top of it, at another path. Its two programs build
# (with the first build's settings, and never from a compiler cache, which
# would hand back the first build's objects) while the checks below run, at
# a lower priority than the programs the other checks time.
git -C "$SYS_SRC" rev-parse --git-dir >/dev/null 2>&1 || fail "$SYS_SRC is not a git checkout to clone"
clone="$SYS_TMP/another/place/kadrix"
git clone -q --no-hardlinks "$SYS_SRC" "$clone" 2>"$SYS_TMP/clone.log" || fail "could not clone $SYS_SRC: $(cat "$SYS_TMP/clone.log")"
git -C "$clone" checkout -q "$(git -C "$SYS_SRC" rev-parse HEAD)" 2>>"$SYS_TMP/clone.log" || fail "the clone lacks the commit under test"
git -C "$SYS_SRC" diff --binary HEAD >"$SYS_TMP/worktree.diff"
[ -s "$SYS_TMP/worktree.diff" ] && { git -C "$clone" apply --binary "$SYS_TMP/worktree.diff" || fail "the working tree's changes do not apply to the clone"; }
(cd "$SYS_SRC" && git ls-files -z --others --exclude-standard | xargs -0 -r cp --parents -t "$clone")
settings=()
while IFS= read -r line; do settings+=("-D$line"); done < <(grep -E \
  '^(CMAKE_BUILD_TYPE|CMAKE_(C|CXX)_COMPILER|CMAKE_(C|CXX)_FLAGS[A-Z_]*|CMAKE_(EXE|SHARED|MODULE)_LINKER_FLAGS[A-Z_]*|CMAKE_UNITY_BUILD[A-Z_]*|CMAKE_INTERPROCEDURAL_OPTIMIZATION|KADRIX_[A-Z_]+):[A-Z]+=' \
  "$build/CMakeCache.txt")
generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$build/CMakeCache.txt")
second="$SYS_TMP/second-build"
build_started=$SECONDS
# The build may take what the test's time leaves (drawn from the machine's
# speed), less what the rest needs after it: its pace is the machine's, and a
# slow machine's build is no fault (one that runs out of time says how far it
# got).
budget=$((${KADRIX_SYSTEM_TEST_SECONDS:-600} - SECONDS - $(sys_seconds 90)))  # run by hand: as ctest runs it
CCACHE_DISABLE=1 nice -n 10 timeout "$budget" bash -c 'cmake -S "$1" -B "$2" -G "$3" "${@:4}" >"$2.log" 2>&1 &&
  cmake --build "$2" -j "$(nproc)" --target kadrix kadrix-screencapture >>"$2.log" 2>&1' \
  second "$clone" "$second" "$generator" "${settings[@]}" &
second_pid=$!
on_exit "kill $second_pid 2>/dev/null || true"
prefix="$SYS_TMP/prefix/usr"
# The packaging steps have no time of their own: the test's time is the
# ceiling of a hang, and the step it was on is said then.
sys_step "cmake --install"
cmake --install "$build" --prefix "$prefix" >"$SYS_TMP/install.log" || {
  cat "$SYS_TMP/install.log"
  fail "cmake --install failed"
}

for program in kadrix kadrix-screencapture kadrix-decode; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not installed in bin"
done
entry="$prefix/share/applications/kadrix.desktop"
[ -f "$entry" ] || fail "no desktop entry in share/applications"
desktop-file-validate "$entry" || fail "the desktop entry does not validate"
mime=$(sed -n 's/^MimeType=//p' "$entry")
for type in x-scheme-handler/kadrix image/png image/jpeg; do
  [[ ";$mime" == *";$type;"* ]] || fail "the desktop entry does not declare $type"
done
icon=$(sed -n 's/^Icon=//p' "$entry")
svg="$prefix/share/icons/hicolor/scalable/apps/$icon.svg"
grep -q '<svg' "$svg" 2>/dev/null || fail "no scalable icon $icon in the hicolor theme"
metainfo=$(ls "$prefix"/share/metainfo/*.metainfo.xml 2>/dev/null | head -1)
[ -n "$metainfo" ] || fail "no AppStream metainfo in share/metainfo"
sys_step "appstreamcli validate"
appstreamcli validate --no-net "$metainfo" >"$SYS_TMP/appstream.log" 2>&1 || {
  cat "$SYS_TMP/appstream.log"
  fail "the metainfo does not validate"
}
# A manual page for each program that man reads without a complaint, and
# the package's copyright and changelog.
for program in kadrix kadrix-screencapture kadrix-decode; do
  page="$prefix/share/man/man1/$program.1.gz"
  [ -f "$page" ] || fail "no manual page for $program"
  complaints=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$complaints" ] || fail "the manual page of $program has faults: $complaints"
done
for doc in copyright changelog.gz; do
  [ -s "$prefix/share/doc/kadrix/$doc" ] || fail "no $doc in share/doc/kadrix"
done
grep -q '<launchable type="desktop-id">kadrix.desktop</launchable>' "$metainfo" \
  || fail "the metainfo does not launch the installed desktop entry"
[ "$(basename "$metainfo")" == "$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$metainfo").metainfo.xml" ] \
  || fail "the metainfo file is not named for its component id"

# A per-user entry of ours, left by an earlier run from the build folder.
mkdir -p "$KADRIX_HOME/applications"
printf '[Desktop Entry]\nType=Application\nName=Kadrix\nExec="%s" %%u\nNoDisplay=true\nX-Kadrix-Registered=true\n' \
  "$SYS_BIN/kadrix" >"$KADRIX_HOME/applications/kadrix.desktop"

# The prefix on the desktop's paths, as a package puts it, with the cache of
# declared types its installation brings up to date; a private home for the
# desktop's own settings.
export XDG_DATA_DIRS="$prefix/share:/usr/share" PATH="$prefix/bin:$PATH" HOME="$SYS_TMP/user"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
# The desktop-neutral opener, whatever session the test was started from.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID BROWSER
update-desktop-database "$prefix/share/applications"
expect_eq "$(xdg-mime query default x-scheme-handler/kadrix)" "kadrix.desktop" "the desktop's handler of kadrix links"
build_bin=$SYS_BIN
SYS_BIN="$prefix/bin"
sys_tray
sys_app_in_tray
expect_eq "$(readlink "/proc/$SYS_APP_PID/exe")" "$prefix/bin/kadrix" "the running program"
folder="$SYS_TMP/shots"
mkdir -p "$folder"
xsetroot -solid '#3366cc'
# The link opened the way a browser opens it: the desktop runs the entry's program.
sys_step "xdg-open of a kadrix link"
sys_timeout 10 xdg-open 'kadrix://grab/fullscreen?then=save' || fail "the desktop did not hand the link over"
sys_first_save_into "$folder"
saved=$(ls "$folder"/SCR-*.*)
expect_eq "$(sys_pixel "$saved" 5 5)" "51,102,204" "the saved screen's pixel"
[ ! -e "$KADRIX_HOME/applications/kadrix.desktop" ] || fail "a per-user entry shadows the installed one"
sys_stop_app

# From the build folder, with nothing installed on the data path, kadrix
# registers itself as before.
export XDG_DATA_DIRS=/usr/share
SYS_BIN=$build_bin
sys_app
sys_wait_for --timeout 15 grep -q "^Exec=\"$SYS_BIN/kadrix\" %u$" "$KADRIX_HOME/applications/kadrix.desktop" \
  || fail "kadrix run from the build folder did not register itself"
sys_stop_app

# The Debian package: the same files, and Depends that match its programs.
sys_step "cpack of the build"
(umask 022 && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$SYS_TMP/deb") >"$SYS_TMP/cpack.log" 2>&1 || {
  tail -20 "$SYS_TMP/cpack.log"
  fail "cpack could not build the package"
}
deb=$(ls "$SYS_TMP"/deb/kadrix_*.deb)
listed=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/kadrix ./usr/bin/kadrix-screencapture ./usr/bin/kadrix-decode ./usr/share/applications/kadrix.desktop \
  "./usr/share/metainfo/$(basename "$metainfo")" ./usr/share/icons/hicolor/scalable/apps/kadrix.svg \
  ./usr/share/man/man1/kadrix.1.gz ./usr/share/man/man1/kadrix-screencapture.1.gz ./usr/share/man/man1/kadrix-decode.1.gz \
  ./usr/share/doc/kadrix/copyright ./usr/share/doc/kadrix/changelog.gz; do
  grep -qxF "$f" <<<"$listed" || fail "the package lacks $f"
done
release=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -1)
expect_eq "$release" "$(dpkg-deb -f "$deb" Version)" "the metainfo's newest release"
changed=$(zcat "$prefix/share/doc/kadrix/changelog.gz" | sed -n '1s/^kadrix (\([^)]*\)).*/\1/p')
expect_eq "$changed" "$(dpkg-deb -f "$deb" Version)" "the changelog's newest entry"
sys_step "check-deb-depends"
"$SYS_SRC/packaging/check-deb-depends" "$deb" || fail "the package's Depends do not match its programs"
sys_step "check-deb-lintian"
"$SYS_SRC/packaging/check-deb-lintian" "$deb" || fail "lintian refuses the package"
# The second clone's package, made later under umask 027, is the same bytes.
build_status=0
sys_step "the second clone's build"
wait "$second_pid" || build_status=$?
if [ "$build_status" = 124 ]; then
  echo "install test: the second clone's build ran out of the $budget s it had, at" \
    "$(grep -o '^\[[0-9]*/[0-9]*\]' "$second.log" | tail -1 || echo 'its configure') of its steps: this machine" \
    "builds slower than the test can wait for, so the two packages were not compared"
  echo "install test: installed, ran the installed kadrix through a save, packaged $(basename "$deb")"
  exit 0
fi
[ "$build_status" = 0 ] || {
  tail -20 "$second.log"
  fail "the second clone did not build"
}
echo "install test: the second clone built in $((SECONDS - build_started)) s"
sys_step "cpack of the second clone"
(umask 027 && cpack -G DEB --config "$second/CPackConfig.cmake" -B "$SYS_TMP/again") >"$SYS_TMP/cpack.log" 2>&1 || {
  tail -20 "$SYS_TMP/cpack.log"
  fail "cpack could not package the second clone"
}
again=$(ls "$SYS_TMP"/again/kadrix_*.deb)
[ "$(sha256sum <"$again")" == "$(sha256sum <"$deb")" ] || {
  diff <(dpkg-deb -c "$deb" | awk '{print $1, $2, $6}') <(dpkg-deb -c "$again" | awk '{print $1, $2, $6}') | head -20 || true
  for program in kadrix kadrix-screencapture; do
    cmp -s "$build/bin/$program" "$second/bin/$program" || echo "$program differs: $(readelf -n "$build/bin/$program" |
      grep 'Build ID') against $(readelf -n "$second/bin/$program" | grep 'Build ID')"
  done
  fail "the second clone's package (another path, another build folder, umask 027) differs from the first" \
    "(a build folder older than the working tree differs too: is $build built from it?)"
}
echo "install test: installed, ran the installed kadrix through a save, packaged $(basename "$deb")"
