#!/usr/bin/python3
"""The manual pages against the programs they describe.

kelvane-cli(1) must name every command of kelvane-cli and, under each command, exactly the
options that the command's --help lists; its OPTIONS section holds the global options. kelvane(1)
must list the options of kelvane --help. Both carry the programs' version on their .TH line.

    manual_pages_test.py --cli KELVANE_CLI --man DOCS/MAN [--gui KELVANE]
"""

import argparse
import re
import subprocess
import sys
import unittest
from pathlib import Path

ARGS = None

OPTION = re.compile(r"^-{1,2}[A-Za-z][\w-]*$")


def run_help(program, words):
    result = subprocess.run([program, *words, "--help"], capture_output=True, text=True,
                            timeout=60, check=False)
    if result.returncode != 0:
        raise AssertionError(f"{program} {' '.join(words)} --help exited with "
                             f"{result.returncode}: {result.stderr}")
    return result.stdout


def help_sections(text):
    """The entries of the "Options:" and "Subcommands:" sections of a --help text."""
    sections = {}
    current = None
    for line in text.splitlines():
        heading = re.match(r"^(\w+):$", line)
        if heading:
            current = sections.setdefault(heading.group(1), [])
        elif not line.strip():
            current = None
        elif current is not None and re.match(r"^  \S", line):
            current.append(line.split()[0])
    return sections


def help_options(text):
    names = set()
    for entry in help_sections(text).get("Options", []):
        names.update(name for name in entry.split(",") if name)
    return names


def program_commands(program):
    """{command words: options} for every command of the program that runs by itself."""
    commands = {}

    def walk(words):
        text = run_help(program, words)
        usage = next((line for line in text.splitlines() if line.startswith("Usage:")), "")
        # "SUBCOMMAND" without brackets: the command needs one of its subcommands.
        needs_subcommand = re.search(r"(?<!\[)SUBCOMMAND", usage) is not None
        if words and not needs_subcommand:
            commands[tuple(words)] = help_options(text) - {"-h", "--help"}
        for sub in help_sections(text).get("Subcommands", []):
            walk([*words, sub])

    walk([])
    return commands


def roff_text(line):
    """A roff line as it reads: escapes and font changes dropped, quotes removed."""
    line = line.replace("\\-", "-").replace("\\e", "\\")
    line = re.sub(r"\\f[BIRP]", "", line)
    line = re.sub(r"^\.\w+\s*", "", line)
    return line.replace('"', " ")


class ManualPage:
    """The sections of a man(7) page, and the options each tagged paragraph names."""

    def __init__(self, path):
        self.lines = Path(path).read_text(encoding="utf-8").splitlines()

    def title_version(self):
        for line in self.lines:
            if line.startswith(".TH "):
                found = re.search(r'"Kelvane ([^"]+)"', line)
                return found.group(1) if found else None
        return None

    def options_by_heading(self, section):
        """{subsection heading (or None): options tagged there} within one .SH section."""
        found = {}
        inside = False
        heading = None
        tag_next = False
        for line in self.lines:
            if line.startswith(".SH "):
                inside = roff_text(line).strip() == section
                heading = None
                continue
            if not inside or line.startswith('.\\"'):
                continue
            if line.startswith(".SS "):
                heading = roff_text(line).strip()
                found.setdefault(heading, set())
            elif line.startswith(".TP"):
                tag_next = True
            elif tag_next:
                tag_next = False
                words = re.split(r"[\s,|\[\]]+", roff_text(line))
                found.setdefault(heading, set()).update(w for w in words if OPTION.match(w))
        return found


def commands_of_heading(heading):
    """ "connections add NAME, connections edit NAME" -> [("connections", "add"), ...]"""
    commands = []
    for part in heading.split(","):
        words = []
        for word in part.split():
            if not re.match(r"^[a-z][a-z-]*$", word):
                break
            words.append(word)
        commands.append(tuple(words))
    return commands


def program_version(program):
    result = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=60,
                            check=False)
    return result.stdout.split()[-1] if result.stdout.split() else ""


class KelvaneCliPage(unittest.TestCase):
    def setUp(self):
        self.page = ManualPage(Path(ARGS.man) / "kelvane-cli.1")

    def test_the_global_options_are_the_programs(self):
        listed = self.page.options_by_heading("OPTIONS").get(None, set())
        self.assertEqual(listed, help_options(run_help(ARGS.cli, [])))

    def test_every_command_and_its_options_are_the_programs(self):
        documented = {}
        for heading, options in self.page.options_by_heading("COMMANDS").items():
            for command in commands_of_heading(heading or ""):
                documented[command] = options
        actual = program_commands(ARGS.cli)
        self.assertEqual(sorted(documented), sorted(actual), "the commands")
        for command, options in actual.items():
            with self.subTest(command=" ".join(command)):
                self.assertEqual(documented[command], options)

    def test_the_version_is_the_programs(self):
        self.assertEqual(self.page.title_version(), program_version(ARGS.cli))


class KelvanePage(unittest.TestCase):
    def setUp(self):
        if not ARGS.gui:
            self.skipTest("built without the desktop program")
        self.page = ManualPage(Path(ARGS.man) / "kelvane.1")

    def test_the_options_are_the_programs(self):
        listed = self.page.options_by_heading("OPTIONS").get(None, set())
        self.assertEqual(listed, help_options(run_help(ARGS.gui, [])))

    def test_the_version_is_the_programs(self):
        self.assertEqual(self.page.title_version(), program_version(ARGS.gui))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--gui")
    parser.add_argument("--man", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
