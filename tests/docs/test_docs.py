"""The examples of the manuals, run as a reader would run them: every
su55if-host command line in a shell block, the commands of host.md's table
of examples against the output files it names, the C example of
procedures.md, the Fortran build line of platforms.md, and the Python
blocks of python.md, each result a comment gives compared with the value."""

import ast
import contextlib
import io
import os
import re
import sys
import shutil
import subprocess
from pathlib import Path

import pytest

CHECKOUT = Path(__file__).resolve().parents[2]
HOST = Path(os.environ.get("SU55IF_HOST", CHECKOUT / "build/default/tools/su55if-host"))
LIBRARY = Path(os.environ.get("SU55IF_LIBRARY", CHECKOUT / "build/default/src/libsu55if.so"))
MANUALS = [CHECKOUT / "README.md", CHECKOUT / "python/README.md", *sorted((CHECKOUT / "docs").glob("*.md"))]


def blocks(path: Path, language: str) -> list:
    """The code blocks of one language in a Markdown file, as text."""
    return re.findall(rf"^```{language}\n(.*?)^```", path.read_text(encoding="utf-8"), re.S | re.M)


def shell_lines(path: Path) -> list:
    """The commands of the shell blocks, continuation lines joined, comments cut."""
    lines = []
    for block in blocks(path, "sh"):
        for line in block.replace("\\\n", " ").splitlines():
            lines.append(re.sub(r"\s+#.*$", "", line).strip())
    return lines


def host_commands() -> list:
    """Every su55if-host command line with real file names (no placeholders)."""
    found = []
    for path in MANUALS:
        for line in shell_lines(path):
            words = line.split()
            if words and words[0] in ("su55if-host", "build/default/tools/su55if-host") and not re.search(
                r"\[|\.\.\.|\b[A-Z]{2,}[A-Z_]*\b", line
            ):
                found.append(pytest.param(words[1:], id=f"{path.name}: {line}"))
    return found


@pytest.fixture
def scratch(tmp_path):
    """A folder with a copy of examples/, where the commands run."""
    shutil.copytree(CHECKOUT / "examples", tmp_path / "examples")
    return tmp_path


def run_host(arguments, folder):
    return subprocess.run([HOST, *arguments], cwd=folder, capture_output=True, timeout=120)


@pytest.mark.parametrize("arguments", host_commands())
def test_host_command_lines_run(arguments, scratch):
    result = run_host(arguments, scratch)
    # The faulty example is the one the library rejects: exit code 1.
    expected = 1 if "examples/faulty.csv" in arguments else 0
    assert result.returncode == expected, result.stderr.decode()


def example_rows() -> list:
    """host.md's table of examples: (command, output file)."""
    rows = re.findall(r"^\| `[^`]+`[^|]*\| `(su55if-host[^`]*)`[^|]*\| `([^`]+\.txt)` \|$",
                      (CHECKOUT / "docs/host.md").read_text(encoding="utf-8"), re.M)
    assert rows, "host.md has no table of examples"
    return [pytest.param(command.split()[1:], output, id=output) for command, output in rows]


@pytest.mark.parametrize("arguments, output", example_rows())
def test_examples_give_the_output_the_manual_names(arguments, output, scratch):
    result = run_host(["--quiet", *arguments], scratch / "examples")
    assert result.stdout.decode() == (CHECKOUT / "examples" / output).read_text(encoding="utf-8")


def test_procedure_call_in_c(tmp_path):
    """procedures.md's call of SU55IF_DEFST, compiled and run; its outputs
    as the comment after the call gives them."""
    (block,) = blocks(CHECKOUT / "docs/procedures.md", "c")
    expected = re.search(r"/\* out = \{([^}]*)\}, status still 0 \*/", block).group(1)
    body = block.replace('#include "su55if.h"\n', "")
    program = tmp_path / "call.c"
    program.write_text(
        '#include <stdio.h>\n#include "su55if.h"\nint main(void) {\n' + body
        + 'for (int k = 0; k < 7; ++k) printf("%.17g\\n", out[k]);\n'
        'printf("%d\\n", status);\nreturn 0;\n}\n'
    )
    include = LIBRARY.resolve().parents[1] / "include"
    subprocess.run(["cc", "-std=c11", "-I", CHECKOUT / "include", "-I", include, program, LIBRARY,
                    f"-Wl,-rpath,{LIBRARY.parent}", "-o", tmp_path / "call"], check=True)
    result = subprocess.run([tmp_path / "call"], capture_output=True, text=True, check=True)
    *values, status = result.stdout.split()
    assert [float(value) for value in values] == [float(value) for value in expected.split(",")]
    assert status == "0"


def test_fortran_build_line(tmp_path):
    """platforms.md's gfortran line builds the Fortran example host, which then runs."""
    if not shutil.which("gfortran"):
        pytest.skip("gfortran is not installed")
    (line,) = [line for line in shell_lines(CHECKOUT / "docs/platforms.md") if line.startswith("gfortran ")]
    line = re.sub(r"(\$PWD/)?build/default/src", str(LIBRARY.parent), line)
    words = [str(CHECKOUT / word) if word.startswith("examples/") else word for word in line.split()]
    subprocess.run(words, cwd=tmp_path, check=True)
    subprocess.run([tmp_path / "fortran_host"], cwd=tmp_path, check=True, capture_output=True)


# A comment that gives a value: a name with its arguments, a list, a tuple,
# a number or a string; "..." stands for any text.
_VALUE = re.compile(r"[A-Z][A-Za-z]*\(.*\)|\[.*\]|\(.*\)|-?[0-9].*|'.*'")


def _matches(shown: str, comment: str) -> bool:
    return re.fullmatch(".*".join(map(re.escape, comment.split("..."))), shown) is not None


def test_python_examples(scratch, monkeypatch):
    """python.md's blocks run in order in one namespace, from a folder with
    examples/: each statement runs, and where a comment on its line (or on
    the line after a print) gives a value, the value is that."""
    sys.path.insert(0, str(CHECKOUT / "python"))
    monkeypatch.chdir(scratch)
    namespace = {}
    checked = 0
    for block in blocks(CHECKOUT / "docs/python.md", "python"):
        lines = block.splitlines()
        for node in ast.parse(block).body:
            code = "\n".join(lines[node.lineno - 1 : node.end_lineno])
            comment = lines[node.end_lineno - 1].partition("  # ")[2].strip()
            if not comment and node.end_lineno < len(lines) and lines[node.end_lineno].startswith("# "):
                comment = lines[node.end_lineno][2:].strip()  # what the print before it shows
            printed = io.StringIO()
            with contextlib.redirect_stdout(printed):
                if isinstance(node, ast.Expr):
                    value = eval(compile(ast.Expression(node.value), "python.md", "eval"), namespace)
                else:
                    exec(compile(ast.Module([node], []), "python.md", "exec"), namespace)
                    value = None
            if _VALUE.fullmatch(comment) and (isinstance(node, ast.Expr) or printed.getvalue()):
                shown = printed.getvalue().rstrip("\n") if printed.getvalue() else repr(value)
                assert _matches(shown, comment), f"{code}\n  shows {shown}\n  python.md says {comment}"
                checked += 1
    assert checked >= 5
