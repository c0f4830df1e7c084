#!/usr/bin/env python3
"""Lists the programs that the project's scripts call by name, so that a
fresh machine can be checked against what ./run setup installs:

    programs.py ROOT            every call in ./run, the tiers and what they run
    programs.py --shell FILE    the calls of one shell script

prints one line per program and file: "PROGRAM<TAB>FILE:LINE" (the first
line that calls it). Sources read from ROOT: ./run and every shell script
below e2e/, tools/ and package/ (by extension or "#!" line), the README's
walkthrough blocks (the package tier runs them), the programs that CMake
files find or run, and the literal program names of Python's subprocess
calls.

A call is a word in command position that names a program through the
search path, or the program of a setting that names one to run (CC=,
CXX=, a compiler or compiler launcher for CMake, also as an expansion's
default: ${CC:-clang}): not a shell keyword or builtin, not a function
the scripts define, not an assignment, not a path ("./x", "/usr/bin/x")
and not an expansion ("$WINE"). Words after env, nice, timeout, xargs, exec, nohup,
sudo and as_root (./run's way to root) are in command position again;
"command -v NAME" only asks. Comments, quoted text, the patterns of case,
the tests of [[ ]] and (( )), and here-document bodies are not calls;
$(...), `...`, <(...) and >(...) inside them are.
"""
import os
import re
import sys

KEYWORDS = {"if", "then", "elif", "else", "fi", "do", "done", "while", "until", "!", "{", "}",
            "time", "esac", "in"}
BUILTINS = {
    ".", ":", "[", "alias", "bg", "bind", "break", "builtin", "caller", "cd", "command",
    "compgen", "complete", "compopt", "continue", "declare", "dirs", "disown", "echo", "enable",
    "eval", "exec", "exit", "export", "false", "fc", "fg", "getopts", "hash", "help", "history",
    "jobs", "kill", "let", "local", "logout", "mapfile", "popd", "printf", "pushd", "pwd", "read",
    "readarray", "readonly", "return", "set", "shift", "shopt", "source", "suspend", "test",
    "times", "trap", "true", "type", "typeset", "ulimit", "umask", "unalias", "unset", "wait",
}
# Words whose following words are a command line of their own; the value
# counts how many option words take an argument (by option).
RUNNERS = {
    "env": {"-u", "-C", "-S"},
    "nice": {"-n"},
    "timeout": {"-s", "-k", "--signal", "--kill-after"},
    "xargs": {"-n", "-I", "-P", "-d", "-L", "-s", "-a", "-E"},
    "exec": {"-a"},
    "nohup": set(),
    "sudo": {"-u", "-g"},
    "as_root": set(),
    "command": set(),
    "time": set(),
}
# timeout's duration is an argument before the command.
RUNNER_LEADING_ARGUMENTS = {"timeout": 1}
ASSIGNMENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=")
# A setting that names a program to run: CC=clang, a compiler or compiler
# launcher given to CMake (-DCMAKE_CXX_COMPILER=clang++, or exported),
# also as the default of an expansion (${CC:-clang}).
PROGRAM_SETTING = re.compile(
    r"^(?:-D)?(?:[A-Z_]*_COMPILER(?:_LAUNCHER)?|CC|CXX)(?::[A-Z]+)?=[\"']?"
    r"(?:\$\{[A-Za-z_][A-Za-z0-9_]*:?-([A-Za-z0-9_.+-]+)\}|([A-Za-z0-9_.+-]+))[\"']?(?:\s|$)")
OPERATOR_CHARS = set(";&|()<>")


class Shell:
    """A scan of shell text for the words in command position."""

    def __init__(self, text, first_line=1):
        self.text = text
        self.i = 0
        self.line = first_line
        self.calls = []  # (word, line, runner-chain-complete)
        self.functions = set()
        self.heredocs = []  # (delimiter, strip tabs, expand)

    # ---- the word reader: returns (literal text or None, raw text)
    def read_word(self):
        t, out, literal = self.text, [], True
        start = self.i
        while self.i < len(t):
            c = t[self.i]
            if c in " \t\n" or c in OPERATOR_CHARS:
                # An array literal: NAME=( ... )
                if c == "(" and out and "".join(out).endswith("=") and ASSIGNMENT.match("".join(out)):
                    self.skip_group("(", ")")
                    out.append("()")
                    continue
                break
            if c == "\\":
                if self.i + 1 < len(t) and t[self.i + 1] == "\n":
                    self.line += 1
                    self.i += 2
                    continue
                out.append(t[self.i + 1:self.i + 2])
                self.i += 2
                continue
            if c == "'":
                end = t.find("'", self.i + 1)
                end = len(t) if end < 0 else end
                out.append(t[self.i + 1:end])
                self.line += t.count("\n", self.i, end)
                self.i = end + 1
                continue
            if c == '"':
                self.i += 1
                out.append(self.read_double_quoted())
                literal = literal and "$" not in out[-1]
                continue
            if c == "`":
                end = t.find("`", self.i + 1)
                end = len(t) if end < 0 else end
                self.nested(t[self.i + 1:end])
                self.line += t.count("\n", self.i, end)
                self.i = end + 1
                literal = False
                continue
            if c == "$":
                literal = False
                if t.startswith("$((", self.i):
                    self.i += 1
                    self.skip_group("(", ")")
                elif t.startswith("$(", self.i):
                    self.i += 1
                    self.substitution()
                elif t.startswith("${", self.i):
                    self.i += 1
                    self.skip_group("{", "}")
                else:
                    self.i += 1
                    out.append("$")
                continue
            out.append(c)
            self.i += 1
        word = "".join(out)
        return (word if literal else None), t[start:self.i]

    def read_double_quoted(self):
        t, out = self.text, []
        while self.i < len(t) and t[self.i] != '"':
            c = t[self.i]
            if c == "\\":
                out.append(t[self.i + 1:self.i + 2])
                self.i += 2
                continue
            if c == "\n":
                self.line += 1
            if t.startswith("$((", self.i):
                self.i += 1
                self.skip_group("(", ")")
                out.append("$")
                continue
            if t.startswith("$(", self.i):
                self.i += 1
                self.substitution()
                out.append("$")
                continue
            if c == "`":
                end = t.find("`", self.i + 1)
                end = len(t) if end < 0 else end
                self.nested(t[self.i + 1:end])
                self.i = end + 1
                out.append("$")
                continue
            out.append(c)
            self.i += 1
        self.i += 1
        return "".join(out)

    def skip_group(self, open_char, close_char):
        """From an opening character to its match, quotes respected."""
        t, depth = self.text, 0
        while self.i < len(t):
            c = t[self.i]
            if c == "\\":
                self.i += 2
                continue
            if c == "\n":
                self.line += 1
            if c == "#" and open_char == "(" and (self.i == 0 or t[self.i - 1] in " \t\n"):
                end = t.find("\n", self.i)
                self.i = len(t) if end < 0 else end
                continue
            if c in "'\"" and open_char != "{":
                end = t.find(c, self.i + 1)
                self.line += t.count("\n", self.i, end if end >= 0 else len(t))
                self.i = len(t) if end < 0 else end + 1
                continue
            if c == open_char:
                depth += 1
            elif c == close_char:
                depth -= 1
                if depth == 0:
                    self.i += 1
                    return
            self.i += 1

    def substitution(self):
        """$( ... ) or <( ... ): its text scanned as commands of their own."""
        start_line, start = self.line, self.i + 1
        self.skip_group("(", ")")
        self.nested(self.text[start:self.i - 1], start_line)

    def nested(self, text, line=None):
        inner = Shell(text, self.line if line is None else line)
        inner.run()
        self.calls.extend(inner.calls)
        self.functions |= inner.functions

    def skip_blanks(self):
        t = self.text
        while self.i < len(t):
            if t[self.i] in " \t":
                self.i += 1
            elif t.startswith("\\\n", self.i):
                self.i += 2
                self.line += 1
            else:
                return

    def read_heredocs(self):
        """After a newline: the bodies of the here-documents begun on the line."""
        t = self.text
        for delimiter, strip_tabs, expand in self.heredocs:
            body_start = self.i
            while self.i < len(t):
                end = t.find("\n", self.i)
                end = len(t) if end < 0 else end
                line = t[self.i:end]
                self.i = end + 1
                self.line += 1
                if (line.lstrip("\t") if strip_tabs else line) == delimiter:
                    break
            if expand:
                body = t[body_start:self.i]
                for m in re.finditer(r"\$\(", body):
                    depth, j = 0, m.start() + 1
                    while j < len(body):
                        depth += {"(": 1, ")": -1}.get(body[j], 0)
                        if depth == 0:
                            break
                        j += 1
                    self.nested(body[m.start() + 2:j])
        self.heredocs = []

    # ---- the command structure
    def run(self):
        t = self.text
        command = True  # the next word is in command position
        runner = None  # (name, arguments still to skip)
        skip_target = False  # the next word is a redirection's target
        heredoc_next = None  # the next word is a here-document's delimiter: strip tabs?
        case_state = []  # per open case: "head" (before in), "pattern", "body"
        test_until = None  # inside [[ ]] or (( )): the closing word
        after_for = False
        function_next = False
        while self.i < len(t):
            c = t[self.i]
            if c in " \t":
                self.i += 1
                continue
            if t.startswith("\\\n", self.i):
                self.i += 2
                self.line += 1
                continue
            if c == "\n":
                self.i += 1
                self.line += 1
                if self.heredocs:
                    self.read_heredocs()
                if test_until is None and not (case_state and case_state[-1] in ("head", "pattern")):
                    command, runner, after_for = True, None, False
                continue
            if test_until == "))":
                if t.startswith("))", self.i):
                    self.i += 2
                    test_until, command = None, False
                else:
                    self.i += 1
                continue
            if c == "#":
                end = t.find("\n", self.i)
                self.i = len(t) if end < 0 else end
                continue
            if t.startswith("&>", self.i):
                self.i += 1
                c = ">"
            if c in "<>":
                if t.startswith("<<<", self.i):
                    self.i += 3
                    skip_target = True
                elif t.startswith("<<", self.i) and test_until is None:
                    self.i += 2
                    strip = t.startswith("-", self.i)
                    self.i += 1 if strip else 0
                    heredoc_next = strip
                elif t.startswith("<(", self.i) or t.startswith(">(", self.i):
                    self.i += 1
                    self.substitution()
                    skip_target = False  # it was the target of a "<" before it
                else:
                    self.i += 1
                    while self.i < len(t) and t[self.i] in ">&|":
                        self.i += 1
                    if test_until is None:
                        skip_target = True
                continue
            if c in ";&|()":
                op = c
                for longer in (";;&", ";;", ";&", "&&", "||", "|&"):
                    if t.startswith(longer, self.i):
                        op = longer
                        break
                self.i += len(op)
                if test_until == "]]":
                    continue
                if op in (";;", ";&", ";;&"):
                    if case_state:
                        case_state[-1] = "pattern"
                    command = False
                    continue
                if case_state and case_state[-1] == "pattern":
                    if op == ")":
                        case_state[-1] = "body"
                        command, runner = True, None
                    continue
                if op == "(" and t.startswith("(", self.i) and command:
                    self.i += 1
                    test_until = "))"
                    continue
                command, runner, after_for = True, None, False
                continue
            # A word.
            fd_start = self.i
            word, raw = self.read_word()
            setting = PROGRAM_SETTING.match(raw)
            if setting:
                self.calls.append((setting.group(1) or setting.group(2), self.line))
            if raw.isdigit() and self.i < len(t) and t[self.i] in "<>":
                continue  # a redirection's file descriptor
            if not raw and self.i == fd_start:
                self.i += 1  # nothing readable: step over it
                continue
            if heredoc_next is not None:
                quoted = any(q in raw for q in "'\"\\")
                self.heredocs.append(((word if word is not None else raw).strip("'\""), heredoc_next,
                                      not quoted))
                heredoc_next = None
                continue
            if skip_target:
                skip_target = False
                continue
            if test_until == "]]":
                if raw == "]]":
                    test_until, command = None, False
                continue
            if function_next:
                self.functions.add(raw)
                function_next = False
                continue
            if case_state and case_state[-1] == "head":
                if raw == "in":
                    case_state[-1] = "pattern"
                continue
            if case_state and case_state[-1] == "pattern":
                if raw == "esac":
                    case_state.pop()
                    command = False
                continue
            if raw == "esac" and case_state:
                case_state.pop()
                command = False
                continue
            if after_for:
                continue
            if not command:
                continue
            if runner is not None:
                name, skip = runner
                if raw.startswith("-") or skip:
                    takes = RUNNERS[name]
                    if name == "command" and raw in ("-v", "-V"):
                        command, runner = False, None
                        continue
                    if raw in takes:
                        runner = (name, skip + 1)
                    elif not raw.startswith("-"):
                        runner = (name, skip - 1)
                    continue
                if name == "env" and ASSIGNMENT.match(raw):
                    continue
                runner = None
            if ASSIGNMENT.match(raw):
                continue
            if raw in KEYWORDS:
                continue
            if raw == "[[":
                test_until = "]]"
                continue
            if raw == "case":
                case_state.append("head")
                command = False
                continue
            if raw in ("for", "select"):
                after_for = True
                continue
            if raw == "function":
                function_next = True
                continue
            # A function definition: NAME() or NAME ()
            save_i, save_line = self.i, self.line
            self.skip_blanks()
            if t.startswith("()", self.i):
                self.i += 2
                self.functions.add(raw)
                command = True
                continue
            self.i, self.line = save_i, save_line
            self.calls.append((word, self.line))
            if word in RUNNERS:
                runner = (word, RUNNER_LEADING_ARGUMENTS.get(word, 0))
            else:
                command = False


def shell_calls(text, first_line=1):
    """(program, line) of each call, and the functions the text defines."""
    scan = Shell(text, first_line)
    scan.run()
    return scan.calls, scan.functions


def is_program(word):
    return (word is not None and word not in BUILTINS and word not in KEYWORDS
            and "/" not in word and re.match(r"^[A-Za-z0-9_][A-Za-z0-9_.+-]*$", word))


def is_shell_script(path):
    if path.endswith(".sh"):
        return True
    if "." in os.path.basename(path):
        return False
    try:
        with open(path, "rb") as f:
            first = f.readline()
    except OSError:
        return False
    return first.startswith(b"#!") and (b"bash" in first or b"/sh" in first)


def walkthrough_blocks(readme):
    """(text, first line) of each block between the walkthrough markers."""
    blocks, current, start = [], None, 0
    with open(readme) as f:
        for n, line in enumerate(f, 1):
            if line.startswith("<!-- walkthrough: "):
                current, start = [], n + 1
            elif line.startswith("<!-- walkthrough end -->"):
                if current is not None:
                    blocks.append(("".join(l if not l.startswith("```") else "\n" for l in current),
                                   start))
                current = None
            elif current is not None:
                current.append(line)
    return blocks


CMAKE_FIND = re.compile(r"find_program\(\s*\w+\s+(?:NAMES\s+)?([A-Za-z0-9_.+-]+)")
CMAKE_COMMAND = re.compile(r"\bCOMMAND\s+([A-Za-z][A-Za-z0-9_.+-]*)(?=\s)")
CMAKE_COMPILER = re.compile(r"set\(CMAKE_\w+_COMPILER\s+([A-Za-z0-9_.+-]+)\)")
PY_SUBPROCESS = re.compile(r"subprocess\.\w+\(\s*\[\s*\"([A-Za-z0-9_.+-]+)\"")


def repository_calls(root):
    """{(program, file): line} for the whole repository."""
    found = {}

    def add(program, path, line):
        key = (program, os.path.relpath(path, root))
        if key not in found or found[key] > line:
            found[key] = line

    scripts = [os.path.join(root, "run")]
    for top in ("e2e", "tools", "package"):
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(folder, name)
                if is_shell_script(path):
                    scripts.append(path)
    functions, calls = set(), []
    for path in scripts:
        with open(path) as f:
            found_calls, defined = shell_calls(f.read())
        functions |= defined
        calls += [(word, path, line) for word, line in found_calls]
    for word, path, line in calls:
        if is_program(word) and word not in functions:
            add(word, path, line)
    # The walkthrough runs in an author's plain shell: no function of the
    # scripts stands in for a program there.
    readme = os.path.join(root, "README.md")
    if os.path.isfile(readme):
        for text, first in walkthrough_blocks(readme):
            found_calls, _ = shell_calls(text, first)
            for word, line in found_calls:
                if is_program(word):
                    add(word, readme, line)

    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in (".git", "build", "dist"))
        for name in sorted(files):
            path = os.path.join(folder, name)
            if name == "CMakeLists.txt" or name.endswith(".cmake"):
                patterns = (CMAKE_FIND, CMAKE_COMMAND, CMAKE_COMPILER)
            elif name.endswith(".py"):
                patterns = (PY_SUBPROCESS,)
            else:
                continue
            with open(path) as f:
                for n, line in enumerate(f, 1):
                    for pattern in patterns:
                        for m in pattern.finditer(line):
                            if is_program(m.group(1)):
                                add(m.group(1), path, n)
    return found


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--shell":
        with open(sys.argv[2]) as f:
            calls, functions = shell_calls(f.read())
        seen = set()
        for word, line in calls:
            if is_program(word) and word not in functions and word not in seen:
                seen.add(word)
                print("%s\t%s:%d" % (word, sys.argv[2], line))
        return 0
    if len(sys.argv) != 2:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    for (program, path), line in sorted(repository_calls(sys.argv[1]).items()):
        print("%s\t%s:%d" % (program, path, line))
    return 0


if __name__ == "__main__":
    sys.exit(main())
