"""Compares the kyvex manual page with what the program's help prints.

usage: man_covers_help.py KYVEX MANPAGE[.gz]

Every command of `kyvex --help` must have its own `.SS "kyvex COMMAND ..."` section, and every
option of `kyvex COMMAND --help` must be a `.TP` item of that section; every `.TP` item must
be an option the command takes. The program-wide options (--help, --version) must be items of
the OPTIONS section. Exits non-zero with the differences.
"""
import gzip
import re
import subprocess
import sys


def help_text(kyvex, *args):
    return subprocess.run([kyvex, *args, "--help"], check=True, capture_output=True, text=True).stdout


def help_section(text, title):
    """The first words of the entries of one section of CLI11's help (Options:, Subcommands:)."""
    words, inside = [], False
    for line in text.splitlines():
        if re.fullmatch(title + r":", line.strip(), re.IGNORECASE):
            inside = True
        elif inside and not line.strip():
            inside = False
        elif inside and re.match(r"  \S", line):
            words.append(line.split()[0])
    return words


def help_options(text):
    # "-h,--help" names one option twice; the long name is the one the page must show.
    names = set()
    for entry in help_section(text, "Options"):
        names.update(n for n in entry.split(",") if n.startswith("--"))
    return names


def page_sections(path):
    raw = gzip.open(path, "rt").read() if path.endswith(".gz") else open(path).read()
    text = re.sub(r"\\f(\[[A-Z]*\]|[A-Z])", "", raw).replace("\\-", "-")
    sections, name, lines = {}, None, text.splitlines()
    for i, line in enumerate(lines):
        heading = re.match(r'\.S[HS]\s+"?([^"]*)"?', line)
        if heading:
            name = heading.group(1).strip()
            sections[name] = set()
        elif line.startswith(".TP") and name and i + 1 < len(lines):
            # The item's tag line: its options are the words starting with --.
            sections[name].update(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", lines[i + 1]))
    return sections


def main():
    kyvex, page = sys.argv[1], sys.argv[2]
    sections = page_sections(page)
    problems = []

    top = help_text(kyvex)
    commands = help_section(top, "Subcommands")
    if not commands:
        problems.append("kyvex --help lists no commands: the help's layout is not understood")

    page_options = sections.get("OPTIONS", set())
    for option in sorted(help_options(top) ^ page_options):
        where = "missing from" if option not in page_options else "not taken by kyvex, yet in"
        problems.append(f"program option {option}: {where} the OPTIONS section")

    page_commands = {}
    for name, items in sections.items():
        m = re.match(r"kyvex\s+([a-z][a-z0-9-]*)", name)
        if m:
            page_commands[m.group(1)] = items
    for command in sorted(set(page_commands) - set(commands)):
        problems.append(f"the page has a section for '{command}', which kyvex does not have")
    for command in commands:
        if command not in page_commands:
            problems.append(f"command '{command}' has no section 'kyvex {command} ...' in the page")
            continue
        taken = help_options(help_text(kyvex, command)) - {"--help"}
        documented = page_commands[command]
        for option in sorted(taken - documented):
            problems.append(f"kyvex {command} {option}: not described in the page")
        for option in sorted(documented - taken):
            problems.append(f"kyvex {command} {option}: described in the page, but the command does not take it")

    for p in problems:
        print(f"man_covers_help: {p}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
