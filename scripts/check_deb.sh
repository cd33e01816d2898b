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
version=$(dpkg-deb -f "$deb" Version)
[ "$("$program" --version)" = "sectorsieve $version" ] ||
  fail "the packaged program does not run, or its version is not the package's $version"

# The commands as the program lists them, and those every version has.
mapfile -t commands < <("$program" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
for command in list extract pack; do
  [[ " ${commands[*]} " == *" $command "* ]] || fail "the program's help lacks $command"
done
# The description and the changelog name every command the program has.
changelog=$(zcat "$root/usr/share/doc/sectorsieve/changelog.gz")
description=$(dpkg-deb -f "$deb" Description)
for command in "${commands[@]}"; do
  grep -q "$command" <<<"$description" || fail "the description lacks $command"
  grep -q "$command" <<<"$changelog" || fail "the changelog lacks $command"
done

warnings=$(MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
page=$(MANWIDTH=80 man -l "$manual" 2>/dev/null | col -b)
for heading in NAME SYNOPSIS COMMANDS OPTIONS "WHOLE OR NOT AT ALL" "EXIT STATUS" EXAMPLES; do
  grep -qx "$heading" <<<"$page" || fail "the manual page lacks its $heading section"
done
grep -Eq "6-byte +file" <<<"$page" || fail "the manual page does not say files come back as sectors"

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

# help offers the commands; an unknown command and the archive's own files are offered nothing.
scratch=$(mktemp -d)
trap 'rm -rf "$root" "$scratch"' EXIT
touch "$scratch/new.img" "$scratch/new.dir" "$scratch/notes.txt"
helped=$(offered help "" 2>&1)
[[ $first == *" help "* && $helped == *" list "* && $helped == *" compact "* ]] ||
  fail "the completion does not offer help and its commands: $first / $helped"
unknown=$(offered nosuch "" 2>&1)
[ "$unknown" = "  " ] || fail "the completion of an unknown command says: $unknown"
pages=$(offered list --codepage "" 2>&1)
[[ $pages == *" 932 "* && $pages == *" 1258 "* ]] || fail "the completion offers no code pages: $pages"
added=$(cd "$scratch" && offered add new.img "" 2>&1)
[ "$added" = " notes.txt " ] || fail "the completion of add offers: $added"

lintian --fail-on error "$deb" >&2 2> >(grep -v "root privileges" >&2) || fail "lintian finds errors in $deb"
apt-get install -s "./$deb" 2>/dev/null | grep -q "^Inst sectorsieve " || fail "apt would not install $deb"
echo "$deb: $(dpkg-deb -f "$deb" Depends); commands ${commands[*]} in the manual and completion"
