#!/usr/bin/env python3
"""Writes the manual page and the bash completion of gridmule-cli from its own --help texts,
so that both always list every command and option the program has.

Usage: make_cli_docs.py GRIDMULE_CLI VERSION DATE MANPAGE_OUT COMPLETION_OUT
"""
import re
import subprocess
import sys


def run_help(cli, *args):
    result = subprocess.run([cli, *args], capture_output=True, text=True,
                            env={"LC_ALL": "C.UTF-8", "QT_QPA_PLATFORM": "offscreen", "PATH": "/usr/bin:/bin"})
    if result.returncode != 0:
        sys.exit(f"{cli} {' '.join(args)} failed: {result.stderr}")
    return result.stdout


def commands_of(overall_help):
    """The (name, summary) pairs of the "Commands:" block."""
    commands = []
    in_block = False
    for line in overall_help.splitlines():
        if line.startswith("Commands:"):
            in_block = True
            continue
        if in_block:
            match = re.match(r"^  (\S+)\s+(.*)$", line)
            if not match:
                break
            commands.append((match.group(1), match.group(2)))
    return commands


def split_command_help(text):
    """A command's help: summary, usage block, and the common tail (options every command takes,
    then output and exit status)."""
    parts = text.split("\n\n")
    summary = parts[0].strip()
    usage = parts[1].rstrip("\n")
    common = parts[2].rstrip("\n") if len(parts) > 2 else ""
    result = "\n\n".join(parts[3:]).strip() if len(parts) > 3 else ""
    return summary, usage, common, result


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    lines = []
    for line in text.split("\n"):
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line)
    return "\n".join(lines)


def manual_page(version, date, commands, helps):
    common, result = helps[commands[0][0]][2], helps[commands[0][0]][3]
    out = [
        "'\\\" -*- coding: utf-8 -*-",
        f'.TH GRIDMULE\\-CLI 1 "{date}" "gridmule\\-cli {version}" "User Commands"',
        ".SH NAME",
        "gridmule\\-cli \\- apply one change to many Excel workbooks from the command line",
        ".SH SYNOPSIS",
        ".B gridmule\\-cli",
        ".I command",
        "[\\fIoptions\\fR] \\fIFILE\\fR...",
        ".br",
        ".B gridmule\\-cli",
        ".I command",
        ".B \\-\\-help",
        ".br",
        ".B gridmule\\-cli",
        "\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR",
        ".SH DESCRIPTION",
        "\\fBgridmule\\-cli\\fR runs the operations of \\fBgridmule\\fR(1) without a window: each command",
        "applies one change to every workbook (\\fI.xls\\fR, \\fI.xlsx\\fR) named on the command line.",
        "Workbooks are changed in place by editing only what the change needs; new files (conversions)",
        "are written by LibreOffice Calc, started headless when a command needs it. A file that fails",
        "never stops the run.",
        ".SH COMMANDS",
    ]
    for name, summary in commands:
        _, usage, _, _ = helps[name]
        out += [f".SS {roff(name)}", roff(summary), ".PP", ".nf", roff(usage), ".fi"]
    out += [".SH COMMON OPTIONS", ".nf", roff(common), ".fi",
            ".SH OUTPUT AND EXIT STATUS", roff(result.replace("\n", " ")),
            ".SH EXAMPLES",
            "Convert every workbook of a folder to .xlsx:",
            ".PP", ".nf", ".RS",
            roff("gridmule-cli convert --to xlsx --out converted ~/reports/*.xls"),
            ".RE", ".fi", ".PP",
            "Set the title of a list of workbooks and keep a log of failures:",
            ".PP", ".nf", ".RS",
            roff("gridmule-cli properties --title \"Q4 report\" --log run.log *.xlsx"),
            ".RE", ".fi", ".PP",
            "Landscape printing for every worksheet:",
            ".PP", ".nf", ".RS",
            roff("gridmule-cli print-setup --landscape *.xls *.xlsx"),
            ".RE", ".fi",
            ".SH FILES",
            ".TP",
            ".I ~/.local/state/gridmule/Gridmule.log",
            "the window's run log by default (\\fB$XDG_STATE_HOME\\fR/gridmule when set); the command",
            "line writes a log only with \\fB\\-\\-log\\fR.",
            ".SH SEE ALSO",
            ".BR gridmule (1),",
            ".BR soffice (1)",
            ""]
    return "\n".join(out)


def completion(commands, helps):
    """A bash completion function: commands first, then each command's words, options, the
    values an option lists (--to csv|txt|...) and files for FILE/DIR arguments."""
    cases = []
    value_cases = {}
    file_options, dir_options = set(), set()
    for name, _ in commands:
        _, usage, common, _ = helps[name]
        text = usage + "\n" + common
        options = sorted(set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]*)", text)))
        first = usage.splitlines()[0]
        words = []
        match = re.match(rf"gridmule-cli {re.escape(name)} ([a-z][a-z|-]*\|[a-z|-]+)", first)
        if match:
            words = match.group(1).split("|")
        for option, values in re.findall(r"(--[a-z][a-z0-9-]*) ([a-z0-9]+(?:\|[a-z0-9]+)+)", text):
            value_cases[option] = values.split("|")
        for option, argument in re.findall(r"(--[a-z][a-z0-9-]*) ([A-Z][A-Z.a-z]*)", text):
            if argument == "DIR":
                dir_options.add(option)
            elif "FILE" in argument or argument == "PICTURE":
                file_options.add(option)
        cases.append((name, words, options))
    # An option that names a file for one command and a folder for another completes both.
    dir_options -= file_options
    lines = [
        "# bash completion for gridmule-cli",
        "_gridmule_cli()",
        "{",
        "    local cur prev words cword",
        "    if declare -F _init_completion >/dev/null; then",
        "        _init_completion || return",
        "    else",
        '        cur="${COMP_WORDS[COMP_CWORD]}"; prev="${COMP_WORDS[COMP_CWORD-1]}"',
        '        words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD',
        "    fi",
        f'    local commands="{" ".join(name for name, _ in commands)}"',
        "    if [[ $cword -eq 1 ]]; then",
        '        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))',
        "        return",
        "    fi",
        '    case "$prev" in',
    ]
    for option in sorted(value_cases):
        lines.append(f'        {option}) COMPREPLY=($(compgen -W "{" ".join(value_cases[option])}" -- "$cur")); return ;;')
    if dir_options:
        lines.append(f'        {"|".join(sorted(dir_options))}) COMPREPLY=($(compgen -d -- "$cur")); return ;;')
    if file_options:
        lines.append(f'        {"|".join(sorted(file_options))}) COMPREPLY=($(compgen -f -- "$cur")); return ;;')
    lines += ["    esac", "    local subcommands='' options=''", '    case "${words[1]}" in']
    for name, words, options in cases:
        lines.append(f'        {name}) subcommands="{" ".join(words)}"; options="{" ".join(options)}" ;;')
    lines += [
        "    esac",
        '    if [[ $cword -eq 2 && -n "$subcommands" && "$cur" != -* ]]; then',
        '        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))',
        "        return",
        "    fi",
        '    if [[ "$cur" == -* ]]; then',
        '        COMPREPLY=($(compgen -W "$options" -- "$cur"))',
        "    else",
        "        compopt -o filenames 2>/dev/null",
        '        COMPREPLY=($(compgen -f -X "!*.@(xls|xlsx|XLS|XLSX)" -- "$cur") $(compgen -d -- "$cur"))',
        "    fi",
        "}",
        "complete -F _gridmule_cli gridmule-cli",
        ""]
    return "\n".join(lines)


def main():
    cli, version, date, manpage_out, completion_out = sys.argv[1:6]
    commands = commands_of(run_help(cli, "--help"))
    if not commands:
        sys.exit("gridmule-cli --help lists no commands")
    helps = {name: split_command_help(run_help(cli, name, "--help")) for name, _ in commands}
    with open(manpage_out, "w", encoding="utf-8") as f:
        f.write(manual_page(version, date, commands, helps))
    with open(completion_out, "w", encoding="utf-8") as f:
        f.write(completion(commands, helps))


if __name__ == "__main__":
    main()
