#!/usr/bin/env bash
# The Debian package of this build tree.
#
#   package_test.sh build|contents|install CPACK_CONFIG PACKAGE_DIR VERSION SOURCE_DIR
#
# build     runs cpack into PACKAGE_DIR (its own directory, apart from a developer's cpack runs).
# contents  checks the control fields, the file list with modes and owners, the maintainer
#           scripts (run against a stand-in setcap), the desktop entry and the packaged programs.
# install   installs the package with dpkg, checks the capabilities and `stampwright --version`,
#           lets an unprivileged user open an adapter with it (in a network namespace of its
#           own), removes and purges it and checks that nothing is left. It changes the system,
#           so it runs only as root with CI set or STAMPWRIGHT_PACKAGE_INSTALL_TEST=1, else exits
#           77 (skipped); with CI set and no root it fails, as a check CI needs did not run.
set -euo pipefail

step=$1
cpack_config=$2
package_dir=$3
version=$4
source_dir=$5

arch=$(dpkg --print-architecture)
deb="$package_dir/stampwright_${version}_${arch}.deb"
capabilities="cap_net_admin,cap_net_raw=eip"
programs=(stampwright stampwright-unit-sim stampwright-tool)
with_capabilities=(stampwright stampwright-unit-sim stampwright-tool)
# Every file of the package with its mode; directories are checked apart.
expected_files=(
  "-rwxr-xr-x ./usr/bin/stampwright"
  "-rwxr-xr-x ./usr/bin/stampwright-tool"
  "-rwxr-xr-x ./usr/bin/stampwright-unit-sim"
  "-rw-r--r-- ./usr/share/applications/stampwright.desktop"
  "-rw-r--r-- ./usr/share/doc/stampwright/README.md"
  "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/stampwright.svg"
)

work=$(mktemp -d)
failures=0
cleanup_actions=()
cleanup() {
  local action
  for action in "${cleanup_actions[@]}"; do eval "$action" || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "package_test: FAIL: $*" >&2
  failures=$((failures + 1))
}
die() {
  echo "package_test: $*" >&2
  exit 1
}
expect_equal() {  # what actual expected
  [[ "$2" == "$3" ]] || fail "$1: got '$2', expected '$3'"
}
expect_contains() {  # what text needle
  [[ "$2" == *"$3"* ]] || fail "$1: '$3' missing in '$2'"
}
finish() {
  if ((failures)); then die "$failures check(s) failed in '$step'"; fi
  echo "package_test: $step: all checks passed"
  exit 0
}

build_package() {
  rm -rf "$package_dir"
  mkdir -p "$package_dir"
  timeout 540 cpack -G DEB --config "$cpack_config" -B "$package_dir" \
    || die "cpack failed or ran out of time"
  local debs
  debs=$(find "$package_dir" -maxdepth 1 -name '*.deb' -printf '%f\n')
  expect_equal "packages built" "$debs" "$(basename "$deb")"
  finish
}

check_control_fields() {
  expect_equal "Package" "$(dpkg-deb -f "$deb" Package)" stampwright
  expect_equal "Version" "$(dpkg-deb -f "$deb" Version)" "$version"
  expect_equal "Architecture" "$(dpkg-deb -f "$deb" Architecture)" "$arch"
  expect_equal "Maintainer" "$(dpkg-deb -f "$deb" Maintainer)" "Stampwright developers"
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  # libcap2-bin is given by hand; libc6 and libpcap0.8 only come from dpkg-shlibdeps.
  local names package
  names=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
  for package in libcap2-bin libc6 libpcap0.8; do
    grep -qxF "$package" <<<"$names" || fail "Depends lacks $package: '$depends'"
  done
}

check_file_list() {
  local listing files
  listing=$(dpkg-deb -c "$deb")
  files=$(awk '$1 !~ /^d/ { print $1, $6 }' <<<"$listing" | sort)
  expect_equal "files with modes" "$files" "$(printf '%s\n' "${expected_files[@]}" | sort)"
  local owners outside
  owners=$(awk '{ print $2 }' <<<"$listing" | sort -u)
  expect_equal "owners" "$owners" "root/root"
  outside=$(awk '$6 != "./" && $6 != "./usr/" && $6 !~ /^\.\/usr\/(bin|share)\// { print $6 }' \
            <<<"$listing")
  expect_equal "entries outside /usr/bin and /usr/share" "$outside" ""
}

# The maintainer scripts, run against a stand-in setcap that logs its arguments: nothing on the
# system is touched.
check_maintainer_scripts() {
  local control="$work/control"
  dpkg-deb -e "$deb" "$control"
  expect_equal "control files" "$(cd "$control" && ls | sort | tr '\n' ' ')" \
    "control md5sums postinst prerm "
  local script
  for script in postinst prerm; do
    expect_equal "$script mode" "$(stat -c %a "$control/$script")" 755
    expect_equal "$script interpreter" "$(head -n 1 "$control/$script")" "#!/bin/sh"
    sh -n "$control/$script" || fail "$script has a syntax error"
  done
  expect_equal "control mode" "$(stat -c %a "$control/control")" 644

  local fake="$work/fake-bin" log="$work/setcap.log" out status
  mkdir -p "$fake"
  printf '#!/bin/sh\necho "$*" >>"%s"\nexit "${FAKE_SETCAP_STATUS:-0}"\n' "$log" >"$fake/setcap"
  chmod 755 "$fake/setcap"

  : >"$log"
  status=0
  out=$(timeout 30 env PATH="$fake:/usr/bin:/bin" sh "$control/postinst" configure 2>&1) || status=$?
  expect_equal "postinst configure status" "$status" 0
  expect_equal "postinst setcap calls" "$(cat "$log")" \
    "$(printf 'cap_net_raw,cap_net_admin+eip /usr/bin/%s\n' "${with_capabilities[@]}")"
  expect_equal "postinst output when setcap works" "$out" ""

  : >"$log"
  status=0
  out=$(timeout 30 env FAKE_SETCAP_STATUS=1 PATH="$fake:/usr/bin:/bin" \
        sh "$control/postinst" configure 2>&1) || status=$?
  expect_equal "postinst status when setcap fails" "$status" 0
  expect_contains "postinst warning when setcap fails" "$out" \
    "could not grant cap_net_raw,cap_net_admin+eip to /usr/bin/stampwright-unit-sim"

  status=0
  out=$(timeout 30 env PATH="$work/no-such-dir" /bin/sh "$control/postinst" configure 2>&1) \
    || status=$?
  expect_equal "postinst status without setcap" "$status" 0
  expect_contains "postinst warning without setcap" "$out" "setcap not found"

  : >"$log"
  status=0
  timeout 30 env PATH="$fake:/usr/bin:/bin" sh "$control/postinst" upgrade-unknown || status=$?
  expect_equal "postinst on an action it does not know" "$status:$(cat "$log")" "0:"

  status=0
  timeout 30 env FAKE_SETCAP_STATUS=1 PATH="$fake:/usr/bin:/bin" sh "$control/prerm" \
    remove >/dev/null 2>&1 || status=$?
  expect_equal "prerm remove status when setcap fails" "$status" 0
}

check_desktop_entry() {
  local root=$1
  local entry="$root/usr/share/applications/stampwright.desktop" line
  for line in "[Desktop Entry]" "Type=Application" "Name=Stampwright" "Exec=stampwright" \
              "Icon=stampwright" "Terminal=false" "Categories=Utility;"; do
    grep -qxF -- "$line" "$entry" || fail "desktop entry lacks the line '$line'"
  done
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
  fi
  if command -v xmllint >/dev/null; then
    xmllint --noout "$root/usr/share/icons/hicolor/scalable/apps/stampwright.svg" \
      || fail "the icon is not well-formed XML"
  fi
  grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/stampwright.svg" \
    || fail "the icon is not an SVG"
  cmp -s "$root/usr/share/doc/stampwright/README.md" "$source_dir/README.md" \
    || fail "the packaged README differs from the source tree's"
}

# --help lists every option on one line, the same options the README documents.
check_options() {
  local program=$1 help documented listed
  help=$(timeout 10 "$program" --help) || fail "stampwright --help failed"
  listed=$(grep -oE '^  --[a-z-]+' <<<"$help" | sed 's/^ *//' | sort)
  documented=$(sed -n '/^## Options$/,/^## /p' "$source_dir/README.md" \
               | grep -oE '^    --[a-z-]+' | sed 's/^ *//' | sort)
  [[ -n "$documented" ]] || fail "no options found in the README"
  expect_equal "options in --help against the README" "$listed" "$documented"
  expect_equal "options named twice in --help" "$(uniq -d <<<"$listed")" ""
}

check_programs() {
  local root=$1 program out
  out=$(timeout 10 "$root/usr/bin/stampwright" --version) || fail "stampwright --version failed"
  expect_equal "stampwright --version" "$out" "stampwright $version"
  check_options "$root/usr/bin/stampwright"
  for program in stampwright-unit-sim stampwright-tool; do
    timeout 10 "$root/usr/bin/$program" --help >/dev/null || fail "$program --help failed"
  done
  for program in "${programs[@]}"; do
    readelf -S --wide "$root/usr/bin/$program" | grep -qF '.symtab' && fail "$program is not stripped"
  done
  return 0
}

check_contents() {
  [[ -f "$deb" ]] || die "no package at $deb; run the package_build test first"
  check_control_fields
  check_file_list
  check_maintainer_scripts
  local root="$work/root"
  dpkg-deb -x "$deb" "$root"
  check_desktop_entry "$root"
  check_programs "$root"
  finish
}

package_status() {
  dpkg-query -W -f='${db:Status-Status}' stampwright 2>/dev/null || echo not-installed
}

# The installed station, started as an unprivileged user, opens an adapter: one end of a veth
# pair in a namespace made for this run, so the version queries it sends reach nothing else.
check_operator_capture() {
  local ns="swpkg$$" home
  # Outside $work, which only root may enter.
  home=$(mktemp -d /tmp/stampwright-operator.XXXXXX)
  cleanup_actions+=("rm -rf '$home'")
  ip netns add "$ns"
  cleanup_actions+=("ip netns del '$ns' 2>/dev/null")
  ip -n "$ns" link add "${ns}a" type veth peer name "${ns}b"
  ip -n "$ns" link set "${ns}a" up
  ip -n "$ns" link set "${ns}b" up
  chmod 777 "$home"
  local out status=0
  out=$(echo close | timeout 30 ip netns exec "$ns" setpriv --reuid=65534 --regid=65534 \
          --clear-groups env XDG_RUNTIME_DIR="$home" /usr/bin/stampwright --headless \
          --interface "${ns}a" --workdir "$home" 2>&1) || status=$?
  expect_equal "headless station as nobody, exit status" "$status" 0
  expect_contains "headless station as nobody" "$out" '{"event":"ready"'
  [[ "$out" != *"no permission"* && "$out" != *'"event":"error"'* ]] \
    || fail "the station as nobody could not use the adapter: $out"
  ip netns del "$ns"
}

check_install() {
  if [[ $(id -u) -ne 0 ]]; then
    [[ -z "${CI:-}" ]] || die "CI is set but this is not root: the install check cannot run"
    echo "package_test: install skipped: needs root" >&2
    exit 77
  fi
  if [[ -z "${CI:-}" && "${STAMPWRIGHT_PACKAGE_INSTALL_TEST:-}" != 1 ]]; then
    echo "package_test: install skipped: it changes the system; set" \
         "STAMPWRIGHT_PACKAGE_INSTALL_TEST=1 to run it here" >&2
    exit 77
  fi
  [[ -f "$deb" ]] || die "no package at $deb; run the package_build test first"
  # Never replace what is already there: an installed copy or files of a manual install.
  expect_equal "package state before the test" "$(package_status)" not-installed
  local entry path
  for entry in "${expected_files[@]}"; do
    path=/${entry#* ./}
    [[ ! -e "$path" ]] || fail "$path exists already"
  done
  ((failures == 0)) || die "not installing over an existing stampwright"

  cleanup_actions+=("timeout 120 dpkg --purge stampwright >/dev/null 2>&1")
  local out
  out=$(DEBIAN_FRONTEND=noninteractive timeout 120 dpkg -i "$deb" 2>&1) \
    || die "dpkg -i failed: $out"
  expect_equal "package state after dpkg -i" "$(package_status)" installed
  [[ "$out" != *"stampwright: "* ]] || fail "the postinst complained: $out"

  local program
  for program in "${with_capabilities[@]}"; do
    expect_equal "getcap $program" "$(getcap "/usr/bin/$program")" \
      "/usr/bin/$program $capabilities"
  done
  expect_equal "stampwright-tool --version as nobody" \
    "$(timeout 10 setpriv --reuid=65534 --regid=65534 --clear-groups \
         /usr/bin/stampwright-tool --version)" "stampwright-tool $version"
  expect_equal "stampwright --version from /usr/bin" \
    "$(timeout 10 /usr/bin/stampwright --version)" "stampwright $version"
  # An operator's account: the capabilities must not stop the program from starting.
  expect_equal "stampwright --version as nobody" \
    "$(timeout 10 setpriv --reuid=65534 --regid=65534 --clear-groups \
         /usr/bin/stampwright --version)" "stampwright $version"

  check_operator_capture

  # A hard link keeps the inode, and with it the capabilities, after dpkg deletes the name.
  local link="/usr/bin/.stampwright-package-test.$$"
  ln /usr/bin/stampwright "$link"
  cleanup_actions+=("rm -f '$link'")

  out=$(timeout 120 dpkg -r stampwright 2>&1) || die "dpkg -r failed: $out"
  for program in "${programs[@]}"; do
    [[ ! -e "/usr/bin/$program" ]] || fail "/usr/bin/$program is left after dpkg -r"
  done
  expect_equal "capabilities on a hard link after dpkg -r" "$(getcap "$link")" ""
  rm -f "$link"

  out=$(timeout 120 dpkg --purge stampwright 2>&1) || die "dpkg --purge failed: $out"
  expect_equal "package state after purge" "$(package_status)" not-installed
  for entry in "${expected_files[@]}"; do
    path=/${entry#* ./}
    [[ ! -e "$path" ]] || fail "$path is left after purge"
  done
  [[ ! -e /usr/share/doc/stampwright ]] || fail "/usr/share/doc/stampwright is left after purge"
  finish
}

case "$step" in
  build) build_package ;;
  contents) check_contents ;;
  install) check_install ;;
  *) die "unknown step '$step'" ;;
esac
