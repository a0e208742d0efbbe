#!/usr/bin/env python3
"""Checks the manual page against the program.

  man_page_test.py options PROGRAM PAGE   the OPTIONS and SYNOPSIS of PAGE name exactly the options
                                          of `PROGRAM --help`, with the same arguments
  man_page_test.py render PAGE            man renders PAGE without a warning at several widths

Exits 0 when they agree, 1 with every difference on stderr.
"""

import os
import re
import subprocess
import sys

# An option's argument is the word in capitals after it, as in "--port N" or "--proxy HOST:PORT".
ARGUMENT = re.compile(r"[A-Z][A-Z0-9_:.,\[\]]*")
OPTION = re.compile(r"--?[A-Za-z0-9][A-Za-z0-9-]*")


def parse_entry(text):
    """The options an entry names, each with its argument: '-q, --quiet       print no line'
    -> {'-q': '', '--quiet': ''}; '--proxy HOST:PORT forward' -> {'--proxy': 'HOST:PORT'}. The
    entry ends at two spaces or at the first word that is neither an option nor an argument."""
    names = []
    argument = ""
    for word in text.strip().split("  ")[0].split():
        if OPTION.fullmatch(word.rstrip(",")) and not argument:
            names.append(word.rstrip(","))
        elif names and not argument and ARGUMENT.fullmatch(word):
            argument = word
        else:
            break
    return {name: argument for name in names}


def help_options(program):
    """Options of --help: its lines that start with two spaces and a dash."""
    result = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=30,
                            check=False)
    if result.returncode != 0:
        sys.exit(f"{program} --help exited with status {result.returncode}: {result.stderr}")
    options = {}
    for line in result.stdout.splitlines():
        if re.match(r"  -", line):
            options.update(parse_entry(line))
    return options


def macro_arguments(line):
    """The arguments of a macro line, quotes removed: '.BI \\-\\-har " FILE"' ->
    ['\\-\\-har', ' FILE']."""
    parts = line.split(None, 1)
    if len(parts) < 2:
        return []
    return [quoted or plain for quoted, plain in re.findall(r'"([^"]*)"|(\S+)', parts[1])]


def plain_text(troff):
    """Troff text without font changes and escapes: '\\fB\\-\\-port\\fP' -> '--port'."""
    text = re.sub(r"\\f(\[[^]]*\]|\(..|.)", "", troff)
    text = text.replace("\\-", "-").replace("\\%", "").replace("\\&", "").replace("\\:", "")
    return text.replace("\\e", "\\")


def tag_text(line):
    """The text a tag line prints; the font macros (.B, .BI, .BR ...) join their arguments."""
    if re.match(r"\.(B|I|R|BI|BR|IB|IR|RB|RI)\b", line):
        return plain_text("".join(macro_arguments(line)))
    return plain_text(line)


def sections(page_text):
    """{section name: [lines]} of a man page source."""
    result = {}
    current = None
    for line in page_text.splitlines():
        if line.startswith('.\\"'):
            continue
        heading = re.match(r'\.SH\s+"?([^"]*)"?', line)
        if heading:
            current = heading.group(1).strip()
            result[current] = []
        elif current is not None:
            result[current].append(line)
    return result


def page_options(lines):
    """Options of the OPTIONS section: the tag line after each .TP."""
    options = {}
    for previous, line in zip(lines, lines[1:]):
        if previous.strip() == ".TP":
            options.update(parse_entry(tag_text(line)))
    return options


def synopsis_options(lines):
    names = set()
    for line in lines:
        names.update(OPTION.findall(plain_text(line)))
    return {name for name in names if not name.startswith("---")}


def describe(name, options):
    return f"{name} {options[name]}".strip()


def compare_options(program, page):
    with open(page, encoding="utf-8") as file:
        parts = sections(file.read())
    for needed in ("OPTIONS", "SYNOPSIS"):
        if needed not in parts:
            sys.exit(f"{page} has no {needed} section")
    from_help = help_options(program)
    from_page = page_options(parts["OPTIONS"])
    if not from_help:
        sys.exit(f"found no options in the output of {program} --help")

    problems = []
    only_help = sorted(set(from_help) - set(from_page))
    only_page = sorted(set(from_page) - set(from_help))
    if only_help:
        problems.append("in --help, missing from the manual page's OPTIONS: " +
                        ", ".join(describe(name, from_help) for name in only_help))
    if only_page:
        problems.append("in the manual page's OPTIONS, not in --help: " +
                        ", ".join(describe(name, from_page) for name in only_page))
    for name in sorted(set(from_help) & set(from_page)):
        if from_help[name] != from_page[name]:
            problems.append(f"argument of {name}: --help has '{from_help[name]}', "
                            f"the manual page has '{from_page[name]}'")
    in_synopsis = synopsis_options(parts["SYNOPSIS"])
    # Short forms may stay out of the synopsis when their long form is there.
    missing = sorted(name for name in from_help
                     if name.startswith("--") and name not in in_synopsis)
    if missing:
        problems.append("in --help, missing from the manual page's SYNOPSIS: " +
                        ", ".join(missing))
    extra = sorted(in_synopsis - set(from_help))
    if extra:
        problems.append("in the manual page's SYNOPSIS, not in --help: " + ", ".join(extra))

    if problems:
        print(f"{page} and `{os.path.basename(program)} --help` differ:", file=sys.stderr)
        for problem in problems:
            print("  " + problem, file=sys.stderr)
        return 1
    print(f"{len(from_help)} options agree: " + " ".join(sorted(from_help)))
    return 0


def render(page):
    failed = 0
    for width in (60, 80, 120):
        result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page],
                                # A locale that always exists, so man has nothing to warn of
                                # but the page.
                                env={**os.environ, "MANWIDTH": str(width), "LC_ALL": "C.UTF-8"},
                                capture_output=True, text=True, timeout=60, check=False)
        if result.returncode != 0 or result.stderr.strip():
            print(f"man at width {width} (status {result.returncode}):\n{result.stderr}",
                  file=sys.stderr)
            failed = 1
        elif "OPTIONS" not in result.stdout:
            print(f"man at width {width} printed no OPTIONS section", file=sys.stderr)
            failed = 1
    return failed


def main(argv):
    if len(argv) == 4 and argv[1] == "options":
        return compare_options(argv[2], argv[3])
    if len(argv) == 3 and argv[1] == "render":
        return render(argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
