"""The end-of-line script against a simulated board: an operator's dialogue
played by the test, a good board passing and broken ones failing."""

import queue
import subprocess
import sys
import threading
from pathlib import Path

SCRIPT = Path(__file__).resolve().parent.parent / "end_of_line.py"
# Bounds every wait on the script: long enough for a loaded machine.
LIMIT = 60


class Bench:
    """The script running, talked to as an operator would."""

    def __init__(self, *arguments):
        self.process = subprocess.Popen(
            [sys.executable, str(SCRIPT), *arguments],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        )
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def next_line(self):
        line = self.lines.get(timeout=LIMIT)
        assert line is not None, f"the script ended early: {self.seen} {self.process.stderr.read()}"
        self.seen.append(line)
        return line

    def answer(self, text):
        self.process.stdin.write(text + "\n")
        self.process.stdin.flush()

    def finish(self):
        self.process.stdin.close()
        while (line := self.lines.get(timeout=LIMIT)) is not None:
            self.seen.append(line)
        status = self.process.wait(timeout=LIMIT)
        return status, self.seen, self.process.stderr.read()


def run(*arguments):
    result = subprocess.run([sys.executable, str(SCRIPT), *arguments], capture_output=True, text=True,
                            timeout=LIMIT, stdin=subprocess.DEVNULL)
    return result.returncode, result.stdout.splitlines(), result.stderr


def toggle(sim, number):
    sim.set_input(number, on=not sim.inputs()[number // 8] >> (number % 8) & 1)


# --- Command line --------------------------------------------------------------


def test_help_and_bad_command_lines():
    status, out, _ = run("--help")
    assert status == 0 and any("Exit status" in line for line in out)
    for arguments, complaint in ((["--inputs", "0-24"], "0 to 23"), (["--lamps", "x"], "not a list"),
                                 (["--steps", "inputs,paint"], "paint"), (["--input-timeout", "0"], "above 0")):
        status, _, err = run(*arguments)
        assert status == 2 and complaint in err, (arguments, err)


def test_no_board_gives_its_own_status(tmp_path, monkeypatch):
    monkeypatch.setenv("VANTREL_DEVICE_DIR", str(tmp_path))
    status, _, err = run("--steps", "eeprom")
    assert status == 3 and "cannot open board 0" in err


# --- Boards ------------------------------------------------------------------


def test_a_good_board_passes_every_step(k27_sim):
    k27_sim.attach("B", "cctalk")
    bench = Bench("--inputs", "0,9,23", "--lamps", "0,13,31", "--confirm")
    for number in (0, 9, 23):
        assert bench.next_line() == f"OPERATE input {number}"
        toggle(k27_sim, number)
        assert bench.next_line() == f"PASS input {number}"
    for number in (0, 13, 31):
        assert bench.next_line().startswith(f"LIT lamp {number}:")
        lit = [n for n in range(32) if k27_sim.outputs().lit(n)]
        assert lit == [number]
        bench.answer("y")
        assert bench.next_line() == f"PASS lamp {number}"
    status, out, err = bench.finish()
    assert status == 0, (out, err)
    assert any(line.startswith("PASS eeprom: 64 bytes at 0x0100") for line in out)
    assert "PASS cctalk: equipment category 'Coin Acceptor'" in out
    assert out[-1] == "PASSED: 0 check(s) failed"
    assert k27_sim.outputs().on == bytes(5)  # every lamp off again


def test_a_crossed_input_and_a_dark_lamp_fail(k27_sim):
    bench = Bench("--steps", "inputs,lamps", "--inputs", "5", "--lamps", "7", "--confirm")
    assert bench.next_line() == "OPERATE input 5"
    toggle(k27_sim, 6)
    assert bench.next_line() == "FAIL input 5: input(s) 6 changed instead"
    assert bench.next_line().startswith("LIT lamp 7:")
    bench.answer("n")
    assert bench.next_line() == "FAIL lamp 7 seen wrong"
    status, out, _ = bench.finish()
    assert status == 1 and out[-1] == "FAILED: 2 check(s) failed"
    assert k27_sim.outputs().on == bytes(5)


def test_an_unchanged_input_times_out(k27_sim):
    status, out, _ = run("--steps", "inputs", "--inputs", "3", "--input-timeout", "0.1")
    assert status == 1 and "FAIL input 3: no change within 0.1 s" in out


def test_damaged_eeprom_reads_fail(k27_sim):
    k27_sim.fault(2, 0x05, "corrupt")
    status, out, _ = run("--steps", "eeprom")
    assert status == 1 and any(line.startswith("FAIL eeprom") for line in out), out


def test_a_missing_coin_acceptor_fails(k27_sim):
    status, out, _ = run("--steps", "cctalk")
    assert status == 1 and any(line.startswith("FAIL cctalk") for line in out), out
