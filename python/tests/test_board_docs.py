"""The docstrings come from the comments of the library's header: the
generator's reading of a declaration list."""

import sys
from pathlib import Path

# The generator sits with the extension's sources.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "src"))
import make_board_docs  # noqa: E402

HEADER = """\
// The file's own comment, not a function's.
class X {
 public:
  // ---- Inputs ----
  // The first form.
  // Second line.
  int GetInputs(unsigned char* inputs);

  // The second form.
  int GetInputs(usbInput* inputs);
  int Bare();
  // A text that belongs to nothing.

  usbErrorCode GetLastError();
 private:
  // Hidden.
  int PerformUSBIO(unsigned char command);
};
"""


def test_comments_above_each_declaration_become_its_text():
    docs = make_board_docs.docs_of(HEADER.splitlines())
    assert docs == {
        "GetInputs": "The first form.\nSecond line.",
        "GetInputs#2": "The second form.",
        "Bare": "",
        "GetLastError": "",
    }
