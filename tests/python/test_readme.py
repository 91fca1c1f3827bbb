"""The README's Python examples run as written, from the project root."""

import os
import re
import subprocess
import sys

from conftest import SOURCE


def test_readme_examples_run(tmp_path):
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        blocks = re.findall(r"```python\n(.*?)```", f.read(), re.S)
    assert len(blocks) >= 2
    for number, block in enumerate(blocks):
        script = tmp_path / f"example{number}.py"
        script.write_text(block, encoding="utf-8")
        done = subprocess.run([sys.executable, str(script)], cwd=SOURCE, capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
