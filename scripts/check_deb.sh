#!/usr/bin/env bash
# Makes the Debian package of the command line (after the linux preset's build) and checks it:
# its files, unpacked into a scratch root; that the manual page renders and names every
# command; that the bash completion offers every command and option; that lintian finds no
# error; and that apt would install it here.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "check_deb: $*" >&2; exit 1; }

cmake --build --preset linux --target sectorsieve_cli sectorsieve_docs >/dev/null
rm -f build/linux/sectorsieve_*.deb
made=$(cd build/linux && cpack -G DEB 2>&1) || fail "cpack failed: $made"
debs=(build/linux/sectorsieve_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made ${debs[*]}"
deb=${debs[0]}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
program=$root/usr/bin/sectorsieve
manual=$root/usr/share/man/man1/sectorsieve.1.gz
completion=$root/usr/share/bash-completion/completions/sectorsieve
for file in "$program" "$manual" "$completion" \
  "$root/usr/share/doc/sectorsieve/copyright" "$root/usr/share/doc/sectorsieve/changelog.gz"; do
  [ -f "$file" ] || fail "$deb lacks ${file#"$root"}"
done
"$program" --version | grep -qx "sectorsieve [0-9.]*" || fail "the packaged program does not run"

# The commands as the program lists them, and those every version has.
mapfile -t commands < <("$program" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
for command in list extract pack; do
  [[ " ${commands[*]} " == *" $command "* ]] || fail "the program's help lacks $command"
done

warnings=$(MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
page=$(MANWIDTH=80 man -l "$manual" 2>/dev/null | col -b)
for heading in NAME SYNOPSIS COMMANDS OPTIONS "WHOLE OR NOT AT ALL" "EXIT STATUS" EXAMPLES; do
  grep -qx "$heading" <<<"$page" || fail "the manual page lacks its $heading section"
done

# What the completion offers after "sectorsieve WORDS...".
offered() {
  bash -c 'source "$1"; shift; COMP_WORDS=(sectorsieve "$@"); COMP_CWORD=$#; _sectorsieve
           echo " ${COMPREPLY[*]} "' _ "$completion" "$@"
}
first=$(offered "")
for command in "${commands[@]}"; do
  grep -q "^   sectorsieve $command " <<<"$page" || fail "the manual page lacks $command"
  [[ $first == *" $command "* ]] || fail "the completion does not offer $command: $first"
  options=$(offered "$command" "-")
  for option in $("$program" "$command" --help | grep -o -- ' --\?[a-z][a-z-]*' | sort -u); do
    [[ $options == *" $option "* ]] || fail "the completion of $command lacks $option: $options"
    grep -q -- "$option" <<<"$page" || fail "the manual page lacks $command's $option"
  done
done

lintian --fail-on error "$deb" >&2 2> >(grep -v "root privileges" >&2) || fail "lintian finds errors in $deb"
apt-get install -s "./$deb" 2>/dev/null | grep -q "^Inst sectorsieve " || fail "apt would not install $deb"
echo "$deb: $(dpkg-deb -f "$deb" Depends); commands ${commands[*]} in the manual and completion"
