"""Threads: a call waiting on the board lets the other threads run, and one
Board used by two threads at once fails the second with a clear error."""

import threading
import time

import pytest

import k27
from k27 import testing


def wait_until(condition, seconds=30.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.001)
    return True


def test_a_waiting_call_releases_the_interpreter_and_keeps_the_board_to_itself():
    with testing.simulated_daemon(boards=1) as sim, k27.Board(0) as board:
        sim.fault(1, 0x4B, "noreply")  # the input snapshot is never answered
        outcome = {}

        def read_inputs():
            try:
                outcome["inputs"] = board.get_inputs()
            except k27.BoardError as error:
                outcome["error"] = error

        reader = threading.Thread(target=read_inputs)
        reader.start()

        def busy():
            try:
                board.clear_errors()
                return False
            except k27.BoardBusyError:
                return True

        # This thread runs while the reader waits inside the call, and finds
        # the board taken.
        assert wait_until(busy), "the reader never held the board"
        with pytest.raises(k27.BoardBusyError, match="in use by another thread"):
            board.read_eeprom(8, 4)
        # A Board of its own goes on working meanwhile.
        with k27.Board(0) as other:
            assert other.read_eeprom(8, 4) == other.read_eeprom(8, 4)
        sim.unplug()  # ends the pending request
        reader.join(60)
        assert not reader.is_alive()
        assert "error" in outcome and outcome["error"].call == "GetInputs"
        assert not busy()  # free again once the call is over


def test_two_threads_hammering_one_board_never_crash():
    with testing.simulated_daemon(boards=1) as sim, k27.Board(0) as board:
        sim.set_inputs(bytes([1, 2, 3, 0, 0]))
        counts = {"good": 0, "busy": 0, "wrong": 0}
        lock = threading.Lock()

        def work():
            for _ in range(300):
                try:
                    inputs = board.get_inputs()
                    key = "good" if inputs.switches == 0x030201 else "wrong"
                except k27.BoardBusyError:
                    key = "busy"
                with lock:
                    counts[key] += 1

        threads = [threading.Thread(target=work) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert counts["wrong"] == 0
        assert counts["good"] + counts["busy"] == 600 and counts["good"] > 0
