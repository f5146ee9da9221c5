"""k27.testing: the simulated daemon's life, its environment, its console."""

import os
import signal
import sys
import textwrap

import pytest

from k27 import testing

SERVING = "serving 1 simulated board(s)"


def fake_daemon(tmp_path, body):
    """An executable standing in for vantrelio; it notes its argv and pid."""
    script = tmp_path / "fake-vantrelio"
    script.write_text(
        f"#!{sys.executable}\n"
        + textwrap.dedent(
            f"""\
            import os, signal, sys
            with open({str(tmp_path / 'argv')!r}, "w") as f:
                f.write(" ".join(sys.argv[1:]))
            with open({str(tmp_path / 'pid')!r}, "w") as f:
                f.write(str(os.getpid()))
            """
        )
        + textwrap.dedent(body)
    )
    script.chmod(0o755)
    return script


def process_gone(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    return False


# --- Finding and starting ----------------------------------------------------


def test_the_daemon_named_by_the_environment_gets_the_options(tmp_path, monkeypatch):
    script = fake_daemon(tmp_path, f'print("{SERVING}", flush=True)\nsignal.pause()\n')
    monkeypatch.setenv("K27_VANTRELIO", str(script))
    with testing.simulated_daemon(eeprom_bytes=4096, verbose=True, iso_devices=2, trace=None) as sim:
        assert sim.running()
    argv = (tmp_path / "argv").read_text().split()
    assert argv == [
        "--simulate", "--device-dir", str(sim.device_dir), "--boards", "1",
        "--eeprom-bytes", "4096", "--verbose", "--iso-devices", "2",
    ]
    assert sim.exit_status == -signal.SIGTERM


def test_a_named_daemon_that_is_no_program_is_refused(tmp_path, monkeypatch):
    monkeypatch.setenv("K27_VANTRELIO", str(tmp_path / "missing"))
    with pytest.raises(testing.DaemonError, match="K27_VANTRELIO"):
        with testing.simulated_daemon():
            pass


def test_the_real_daemon_is_found_without_being_named(monkeypatch):
    monkeypatch.delenv("K27_VANTRELIO", raising=False)
    assert os.path.basename(testing.find_program("vantrelio")) == "vantrelio"
    assert os.path.basename(testing.find_program("k27simctl")) == "k27simctl"


def test_bad_board_counts_are_refused_before_anything_starts():
    for boards in (0, 9):
        with pytest.raises(ValueError, match="1 to 8"):
            with testing.simulated_daemon(boards=boards):
                pass


# --- Environment and ending --------------------------------------------------


def test_the_block_reaches_a_private_folder_and_everything_is_undone(monkeypatch):
    monkeypatch.setenv("VANTREL_DEVICE_DIR", "/before")
    namespace = os.environ.get("VANTREL_SHARED_NAMESPACE")
    with testing.simulated_daemon() as sim:
        assert os.environ["VANTREL_DEVICE_DIR"] == str(sim.device_dir)
        assert (sim.device_dir / "ezusb-0").exists()
        assert sim.environment()["VANTREL_DEVICE_DIR"] == str(sim.device_dir)
        # The namespace the library was loaded with stays in force.
        assert os.environ.get("VANTREL_SHARED_NAMESPACE") == namespace
        pid = sim.pid
    assert os.environ["VANTREL_DEVICE_DIR"] == "/before"
    assert sim.exit_status == 0, sim.log
    assert process_gone(pid)
    assert not sim.folder.exists()


def test_an_error_in_the_block_still_stops_the_daemon_and_restores(monkeypatch):
    monkeypatch.delenv("VANTREL_DEVICE_DIR", raising=False)
    with pytest.raises(KeyError):
        with testing.simulated_daemon() as sim:
            raise KeyError("in the test")
    assert "VANTREL_DEVICE_DIR" not in os.environ
    assert not sim.running()
    assert not sim.folder.exists()


def test_nested_daemons_are_apart_and_the_outer_one_comes_back():
    with testing.simulated_daemon() as outer:
        with testing.simulated_daemon(boards=2) as inner:
            assert inner.device_dir != outer.device_dir
            assert os.environ["VANTREL_DEVICE_DIR"] == str(inner.device_dir)
            assert inner.inputs(board=1) != inner.inputs(board=0)  # dip switches give the number
        assert os.environ["VANTREL_DEVICE_DIR"] == str(outer.device_dir)
        assert outer.running()


# --- Failures ----------------------------------------------------------------


def test_a_daemon_that_dies_gives_its_log():
    with pytest.raises(testing.DaemonError, match="ended with status") as error:
        with testing.simulated_daemon(eeprom_bytes=100):
            pass
    assert "eeprom" in error.value.log.lower()
    assert error.value.log in str(error.value)


def test_a_daemon_that_never_serves_is_given_up_and_ended(tmp_path, monkeypatch):
    script = fake_daemon(tmp_path, 'print("starting", flush=True)\nsignal.pause()\n')
    monkeypatch.setenv("K27_VANTRELIO", str(script))
    with pytest.raises(testing.DaemonError, match="did not serve"):
        with testing.simulated_daemon(start_timeout=0.2):
            pass
    # On a loaded machine it may not even have begun: then there is nothing to look at.
    pid = (tmp_path / "pid").read_text() if (tmp_path / "pid").exists() else ""
    assert not pid or process_gone(int(pid))


def test_a_daemon_deaf_to_sigterm_is_killed(tmp_path, monkeypatch):
    script = fake_daemon(
        tmp_path,
        f'signal.signal(signal.SIGTERM, signal.SIG_IGN)\nprint("{SERVING}", flush=True)\n'
        "while True:\n    signal.pause()\n",
    )
    monkeypatch.setenv("K27_VANTRELIO", str(script))
    with testing.simulated_daemon() as sim:
        assert sim.stop(timeout=0.2) == -signal.SIGKILL
    assert sim.exit_status == -signal.SIGKILL


def test_commands_to_an_ended_daemon_fail_clearly():
    with testing.simulated_daemon() as sim:
        sim.stop()
        with pytest.raises(testing.DaemonError, match="has ended"):
            sim.inputs()


# --- Console -----------------------------------------------------------------


@pytest.mark.k27_sim(boards=2)
def test_the_console_drives_and_reads_the_boards(k27_sim):
    k27_sim.set_inputs(bytes.fromhex("0102030405"))
    assert k27_sim.inputs() == bytes.fromhex("0102030405")
    k27_sim.set_input(39)
    k27_sim.set_input(0, on=False)
    assert k27_sim.inputs() == bytes.fromhex("0002030485")
    assert k27_sim.inputs(board=1) != k27_sim.inputs()
    assert k27_sim.command("inputs") == k27_sim.command("inputs", board=0)

    outputs = k27_sim.outputs()
    assert outputs.on == bytes(5) and not outputs.lit(0)
    assert len(k27_sim.reels()) == 3

    k27_sim.attach("A", "loopback")
    assert k27_sim.sent("A") == b""
    before = k27_sim.time_us()
    k27_sim.advance(5)
    assert k27_sim.time_us() >= before + 5000


def test_refused_commands_raise_with_the_console_text(k27_sim):
    with pytest.raises(testing.SimCommandError, match="unknown command 'bogus'") as error:
        k27_sim.command("bogus")
    assert error.value.usage_error
    with pytest.raises(testing.SimCommandError, match="no simulated board 5"):
        k27_sim.inputs(board=5)
    with pytest.raises(testing.SimCommandError, match="no ccTalk device") as error:
        k27_sim.command("serial B power off")
    assert not error.value.usage_error
    with pytest.raises(ValueError, match="5 bytes"):
        k27_sim.set_inputs(b"\x00")
    with pytest.raises(ValueError, match="0-39"):
        k27_sim.set_input(40)


# --- Boards opened in the block ----------------------------------------------


@pytest.mark.k27_sim(boards=2, eeprom_bytes=4096)
def test_the_board_fixture_and_any_board_opened_reach_the_simulated_daemon(k27_sim, k27_board):
    import k27

    k27_sim.set_inputs(bytes.fromhex("a55a3c0000"))
    assert k27_board.get_inputs().switches == 0x3C5AA5
    k27_board.set_outputs(k27.Outputs.of(3, 30))
    assert k27_sim.outputs().on == k27.Outputs.of(3, 30).raw
    assert k27_board.check_eeprom().size == 4096
    with k27.Board(1) as second:
        assert second.get_inputs().address == 1
