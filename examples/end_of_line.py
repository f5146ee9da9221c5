#!/usr/bin/python3
"""End-of-line test of a K27 board, as a production bench runs it.

Steps, each reported on its own line ("PASS ..." or "FAIL ..."):
  inputs  the operator (or the fixture) operates each input in turn; the
          script waits until the board reports it changed
  lamps   each lamp is lit alone, one after the other; with --confirm the
          operator answers y or n for each, otherwise it stays lit for
          --lamp-time seconds
  eeprom  a test record is written, read back and compared by its CRC-32
  cctalk  the coin acceptor answers a simple poll, names its category and
          gives its credit buffer

Exit status: 0 every step passed, 1 a step failed, 2 bad command line,
3 the board could not be opened.
"""

from __future__ import annotations

import argparse
import sys
import time
import zlib
from typing import Callable, Iterable, List, Optional

import k27

EXIT_PASSED, EXIT_FAILED, EXIT_USAGE, EXIT_NO_BOARD = 0, 1, 2, 3
STEPS = ("inputs", "lamps", "eeprom", "cctalk")
# The switch inputs and lamps of the board.
INPUT_COUNT, LAMP_COUNT = 24, 32
EEPROM_RECORD_BYTES = 64


def number_list(text: str, limit: int) -> List[int]:
    """'0-3,7' -> [0, 1, 2, 3, 7], each below `limit`."""
    numbers: List[int] = []
    try:
        for part in text.split(","):
            first, _, last = part.partition("-")
            numbers += range(int(first), int(last or first) + 1)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a list such as 0-3,7") from None
    bad = [n for n in numbers if not 0 <= n < limit]
    if bad or not numbers:
        raise argparse.ArgumentTypeError(f"'{text}': numbers go from 0 to {limit - 1}")
    return numbers


def parse_arguments(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description="End-of-line test of a K27 board: inputs, lamps, EEPROM and the ccTalk coin acceptor.",
        epilog="Exit status: 0 every step passed, 1 a step failed, 2 bad command line, "
        "3 the board could not be opened.",
    )
    parser.add_argument("--board", type=int, default=0, help="board number (default 0)")
    parser.add_argument("--steps", default=",".join(STEPS), help=f"steps to run, of {','.join(STEPS)} (default all)")
    parser.add_argument("--inputs", type=lambda t: number_list(t, INPUT_COUNT), default=list(range(INPUT_COUNT)),
                        help="inputs to walk, such as 0-23 or 0,5,9 (default 0-23)")
    parser.add_argument("--input-timeout", type=float, default=10.0,
                        help="seconds to wait for each input (default 10)")
    parser.add_argument("--lamps", type=lambda t: number_list(t, LAMP_COUNT), default=list(range(LAMP_COUNT)),
                        help="lamps to light, such as 0-31 (default 0-31)")
    parser.add_argument("--lamp-time", type=float, default=0.3, help="seconds each lamp stays lit (default 0.3)")
    parser.add_argument("--confirm", action="store_true",
                        help="ask the operator on standard input whether each lamp is lit")
    parser.add_argument("--eeprom-address", type=lambda t: int(t, 0), default=0x100,
                        help="where the test record goes (default 0x100)")
    parser.add_argument("--cctalk-port", choices=("A", "B"), default="B", help="port of the coin acceptor (default B)")
    parser.add_argument("--cctalk-address", type=int, default=2, help="ccTalk address of the coin acceptor (default 2)")
    arguments = parser.parse_args(argv)
    steps = [s.strip() for s in arguments.steps.split(",") if s.strip()]
    unknown = [s for s in steps if s not in STEPS]
    if unknown or not steps:
        parser.error(f"--steps: unknown step(s) {', '.join(unknown) or '(none given)'}; the steps are {', '.join(STEPS)}")
    if arguments.input_timeout <= 0 or arguments.lamp_time < 0:
        parser.error("--input-timeout must be above 0 and --lamp-time 0 or more")
    arguments.steps = steps
    return arguments


class Report:
    """Counts the checks and prints each one as it is made."""

    def __init__(self) -> None:
        self.failures = 0

    def check(self, passed: bool, what: str) -> bool:
        print(f"{'PASS' if passed else 'FAIL'} {what}", flush=True)
        self.failures += not passed
        return passed


def input_bits(board: k27.Board) -> int:
    """The switch inputs as one number, input n in bit n."""
    return board.get_inputs().switches


def walk_inputs(board: k27.Board, inputs: Iterable[int], timeout: float, report: Report) -> None:
    for number in inputs:
        idle = input_bits(board)
        print(f"OPERATE input {number}", flush=True)
        deadline = time.monotonic() + timeout
        changed = 0
        while time.monotonic() < deadline:
            changed = input_bits(board) ^ idle
            if changed:
                break
            time.sleep(0.02)  # the bench's pace: a person presses a switch
        if not changed:
            report.check(False, f"input {number}: no change within {timeout:g} s")
        else:
            others = [n for n in range(INPUT_COUNT) if changed >> n & 1 and n != number]
            report.check(
                changed == 1 << number,
                f"input {number}" + (f": input(s) {', '.join(map(str, others))} changed instead" if others else ""),
            )


def light_lamps(board: k27.Board, lamps: Iterable[int], ask: Optional[Callable[[str], str]], lamp_time: float,
                report: Report) -> None:
    try:
        for number in lamps:
            board.set_outputs(k27.Outputs.of(number))
            if ask is None:
                print(f"LIT lamp {number}", flush=True)
                time.sleep(lamp_time)
                report.check(True, f"lamp {number} lit")
            else:
                answer = ask(f"LIT lamp {number}: is it the only lamp lit? [y/n]").strip().lower()
                report.check(answer.startswith("y"), f"lamp {number}" + ("" if answer.startswith("y") else " seen wrong"))
    finally:
        board.set_outputs(k27.Outputs())


def test_eeprom(board: k27.Board, address: int, report: Report) -> None:
    geometry = board.check_eeprom()
    board.configure_eeprom(geometry)
    record = bytes((address + 7 * i) & 0xFF for i in range(EEPROM_RECORD_BYTES))
    record = record[:-4] + zlib.crc32(record[:-4]).to_bytes(4, "little")
    board.write_eeprom(address, record)
    read = board.read_eeprom(address, len(record))
    written_crc, read_crc = zlib.crc32(record), zlib.crc32(read)
    report.check(
        read_crc == written_crc and zlib.crc32(read[:-4]).to_bytes(4, "little") == read[-4:],
        f"eeprom: {len(record)} bytes at 0x{address:04x} of {geometry.last_address + 1}, "
        f"crc32 written {written_crc:08x} read {read_crc:08x}",
    )


def poll_coin_acceptor(board: k27.Board, port_name: str, address: int, report: Report) -> None:
    port = k27.Port[port_name]
    poll = board.cctalk(port, "simple poll", destination=address)
    report.check(poll.header == 0 and not poll.data, f"cctalk: simple poll to address {address} acknowledged")
    category = board.cctalk(port, "request equipment category id", destination=address).data.decode(
        "ascii", "replace")
    report.check(category == "Coin Acceptor", f"cctalk: equipment category '{category}'")
    credit = board.cctalk(port, "read buffered credit or error codes", destination=address).data
    report.check(len(credit) == 11, f"cctalk: credit buffer, event counter {credit[0] if credit else '-'}")


def run(arguments: argparse.Namespace, ask: Optional[Callable[[str], str]]) -> int:
    try:
        board = k27.Board(arguments.board)
    except k27.BoardError as error:
        print(f"end_of_line: cannot open board {arguments.board}: {error}", file=sys.stderr)
        return EXIT_NO_BOARD
    report = Report()
    with board:
        steps = {
            "inputs": lambda: walk_inputs(board, arguments.inputs, arguments.input_timeout, report),
            "lamps": lambda: light_lamps(board, arguments.lamps, ask, arguments.lamp_time, report),
            "eeprom": lambda: test_eeprom(board, arguments.eeprom_address, report),
            "cctalk": lambda: poll_coin_acceptor(board, arguments.cctalk_port, arguments.cctalk_address, report),
        }
        for step in arguments.steps:
            try:
                steps[step]()
            except (k27.BoardError, k27.CcTalkError) as error:
                report.check(False, f"{step}: {error}")
    print(f"{'PASSED' if report.failures == 0 else 'FAILED'}: {report.failures} check(s) failed", flush=True)
    return EXIT_PASSED if report.failures == 0 else EXIT_FAILED


def main(argv: Optional[List[str]] = None) -> int:
    arguments = parse_arguments(argv)

    def ask(question: str) -> str:
        print(question, flush=True)
        return sys.stdin.readline()

    return run(arguments, ask if arguments.confirm else None)


if __name__ == "__main__":
    sys.exit(main())
