#!/usr/bin/env python3
"""Makes the manual page sectorsieve(1) and its bash completion from the program's own help.

Every command, argument and option comes from `sectorsieve --help` and `sectorsieve COMMAND
--help`, so a new command is in both as soon as the program has it; the prose around them
(description, examples) comes from the page's template:

    python3 tools/make_cli_docs.py PROGRAM TEMPLATE sectorsieve.1.gz sectorsieve.bash
"""

import gzip
import re
import subprocess
import sys


def run_help(program, *command):
    return subprocess.run(
        [program, *command, "--help"], check=True, capture_output=True, text=True
    ).stdout


def sections(text):
    """The help's first lines, and its "Name:" sections as lists of lines."""
    head, found, current = [], {}, None
    for line in text.splitlines():
        heading = re.fullmatch(r"(\w[\w ]*):", line)
        if heading:
            current = found.setdefault(heading.group(1).lower(), [])
        elif current is None:
            head.append(line)
        else:
            current.append(line)
    return head, found


def entries(lines):
    """(name, description) pairs of an options or commands list, wrapped lines joined."""
    items = []
    for line in lines:
        if not line.strip():
            if items:
                break  # the list ends; closing words may follow
            continue
        if line.startswith("  ") and not line.startswith("   "):
            name, _, description = line.strip().partition("  ")
            items.append([name.strip(), description.strip()])
        elif items:
            items[-1][1] = (items[-1][1] + " " + line.strip()).strip()
    return [tuple(item) for item in items]


def footer(found):
    """The help's closing paragraph that starts "Exit status:"."""
    for name in ("subcommands", "options"):
        if name in found:
            text = " ".join(line.strip() for line in found[name] if line.strip())
            at = text.find("Exit status:")
            return text[at:] if at >= 0 else ""
    return ""


def usage(head):
    return next(line[len("Usage: "):] for line in head if line.startswith("Usage: "))


class Command:
    def __init__(self, program, name):
        head, found = sections(run_help(program, name))
        self.name = name
        self.summary = head[0]
        self.usage = usage(head)
        self.positionals = entries(found.get("positionals", []))
        # Options may come in groups of their own names.
        self.all_options = [o for title, lines in found.items()
                            if title not in ("positionals", "subcommands") for o in entries(lines)]
        self.options = [o for o in self.all_options if o[0] != "-h,--help"]


def roff(text):
    """Text safe in a roff line: backslashes and minus signs escaped, no leading control dot."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def option_words(name):
    """'-q,--quiet' -> ['-q', '--quiet']; the type after the names is dropped."""
    return name.split(" ")[0].split(",")


def argument(name):
    """'NAME TEXT ...' -> 'NAME...': the argument's name, marked where it repeats."""
    words = name.split(" ")
    return words[0] + ("..." if "..." in words else "")


def takes_value(name):
    return " " in name


def value_name(name):
    """'--codepage CP' -> 'CP': what the help calls the option's value."""
    return name.split(" ")[1]


def code_pages(commands):
    """The code pages --codepage takes, as its help lists them: "874, 932 and 1250 to 1258"."""
    for c in commands:
        for name, description in c.options:
            if option_words(name)[-1] == "--codepage":
                listed = re.search(r"\(([^;]*);", description).group(1)
                pages = []
                for part in re.split(r", | and ", listed):
                    low, _, high = part.partition(" to ")
                    pages += [str(n) for n in range(int(low), int(high or low) + 1)]
                return pages
    return []


def manual(template, version, top_summary, commands, global_options, exit_status):
    synopsis = "\n.br\n".join(f"\\fBsectorsieve\\fR {roff(c.usage[len('sectorsieve '):])}"
                              for c in commands)
    body = []
    for c in commands:
        body.append(f'.SS "{roff(c.usage)}"')
        body.append(roff(c.summary[:1].upper() + c.summary[1:]) + ".")
        for name, description in c.positionals:
            body += [".TP", f"\\fI{roff(argument(name))}\\fR", roff(description)]
        for name, description in c.options:
            words = ", ".join(f"\\fB{roff(w)}\\fR" for w in option_words(name))
            value = f" \\fI{roff(value_name(name))}\\fR" if takes_value(name) else ""
            body += [".TP", words + value, roff(description)]
    options = []
    for name, description in global_options:
        options += [".TP", ", ".join(f"\\fB{roff(w)}\\fR" for w in option_words(name)),
                    roff(description)]
    exit_text = re.sub(r"^Exit status:\s*", "", exit_status)
    return (template.replace("@VERSION@", roff(version))
            .replace("@SUMMARY@", roff(top_summary))
            .replace("@SYNOPSIS@", synopsis)
            .replace("@COMMANDS@", "\n".join(body))
            .replace("@OPTIONS@", "\n".join(options))
            .replace("@EXIT_STATUS@", roff(exit_text)))


COMPLETION = """\
# bash completion for sectorsieve, made from its own --help.
_sectorsieve() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local command="" word i argument=0 archive=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -z $command ]]; then
      [[ $word == -* ]] || command=$word
    elif [[ $word != -* ]] && ! _sectorsieve_takes_value "$command" "${COMP_WORDS[i - 1]}"; then
      [[ $argument -eq 0 ]] && archive=$word
      ((argument++))
    fi
  done
  if [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "@COMMANDS@ help --help --version" -- "$cur")
    return
  fi
  if [[ $command == help ]]; then
    [[ $argument -eq 0 ]] && mapfile -t COMPREPLY < <(compgen -W "@COMMANDS@" -- "$cur")
    return
  fi
  [[ " @COMMANDS@ " == *" $command "* ]] || return
  if [[ $prev == --codepage ]]; then
    mapfile -t COMPREPLY < <(compgen -W "@CODEPAGES@" -- "$cur")
    return
  fi
  # The value of another option, such as --as: nothing to offer.
  _sectorsieve_takes_value "$command" "$prev" && return
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_sectorsieve_options "$command")" -- "$cur")
    return
  fi
  local arguments kind
  read -ra arguments <<<"$(_sectorsieve_arguments "$command")"
  # extract --stdout writes to standard output: no FOLDER.
  if [[ " ${COMP_WORDS[*]} " == *" --stdout "* ]]; then
    read -ra arguments <<<"${arguments[*]/FOLDER/}"
  fi
  [[ ${#arguments[@]} -gt 0 ]] || return
  kind=${arguments[argument]:-${arguments[${#arguments[@]} - 1]}}
  [[ $argument -lt ${#arguments[@]} || $kind == *... ]] || return
  compopt -o filenames 2>/dev/null
  case $kind in
    ARCHIVE) mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[iI][mM][gG]' -- "$cur") ;;
    FOLDER) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
    NAME*) ;;  # names inside the archive, not files here
    # Files to add, but not the archive's own two.
    *) mapfile -t COMPREPLY < <(compgen -f -- "$cur" |
         grep -vixF -e "$archive" -e "${archive%.*}.dir" -e "${archive%.*}.DIR") ;;
  esac
}

_sectorsieve_options() {
  case $1 in
@OPTIONS@
  esac
}

_sectorsieve_takes_value() {
  case $1 in
@VALUES@
  esac
  return 1
}

_sectorsieve_arguments() {
  case $1 in
@ARGUMENTS@
  esac
}

complete -F _sectorsieve sectorsieve
"""


def completion(commands):
    options, values, arguments = [], [], []
    for c in commands:
        words = [w for name, _ in c.all_options for w in option_words(name)]
        options.append(f'    {c.name}) echo "{" ".join(words)}" ;;')
        valued = [w for name, _ in c.options if takes_value(name) for w in option_words(name)]
        if valued:
            values.append(f'    {c.name}) [[ "|{"|".join(valued)}|" == *"|$2|"* ]] && return 0 ;;')
        names = [argument(name) for name, _ in c.positionals]
        arguments.append(f'    {c.name}) echo "{" ".join(names)}" ;;')
    return (COMPLETION.replace("@COMMANDS@", " ".join(c.name for c in commands))
            .replace("@CODEPAGES@", " ".join(code_pages(commands)))
            .replace("@OPTIONS@", "\n".join(options))
            .replace("@VALUES@", "\n".join(values) or "    *) ;;")
            .replace("@ARGUMENTS@", "\n".join(arguments)))


def main(program, template_path, manual_path, completion_path):
    head, found = sections(run_help(program))
    commands = [Command(program, name) for name, _ in entries(found["subcommands"])]
    global_options = entries(found.get("options", []))
    with open(template_path, encoding="utf-8") as f:
        template = f.read()
    version = subprocess.run([program, "--version"], check=True, capture_output=True,
                             text=True).stdout.strip()
    page = manual(template, version, head[0], commands, global_options, footer(found))
    # Compressed as Debian wants manual pages: at most, without a name or time inside.
    with open(manual_path, "wb") as raw, gzip.GzipFile("", "wb", 9, raw, mtime=0) as out:
        out.write(page.encode("utf-8"))
    with open(completion_path, "w", encoding="utf-8") as f:
        f.write(completion(commands))


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
