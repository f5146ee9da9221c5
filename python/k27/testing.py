"""Boards without hardware: a simulated daemon for tests and CI.

    with k27.testing.simulated_daemon(boards=1, eeprom_bytes=8192) as sim:
        sim.set_inputs(bytes.fromhex("0100000000"))
        with k27.Board() as board:
            ...

`simulated_daemon` starts ``vantrelio --simulate`` in a private folder and
points this process (and every program it starts) at it through
VANTREL_DEVICE_DIR, so that each ``k27.Board`` opened inside the block reaches
the simulated boards. ``sim`` drives them with the commands of ``k27simctl``
(inputs, faults, serial peers, unplugging ...), which passes each command
word for word to the daemon's console.

The board library keeps its shared per-board records under the namespace
VANTREL_SHARED_NAMESPACE names when it is loaded, once per process. Set it
before the first ``import k27`` to keep a test's records apart from the
machine's; the pytest plugin's documentation shows how.
"""

from __future__ import annotations

import contextlib
import glob
import itertools
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import warnings
from dataclasses import dataclass
from pathlib import Path
from typing import Iterator, Optional, Sequence, Tuple, Union

__all__ = [
    "DaemonError",
    "OutputsState",
    "ReelState",
    "SimCommandError",
    "SimulatedDaemon",
    "find_program",
    "simulated_daemon",
]

DEVICE_DIR_VARIABLE = "VANTREL_DEVICE_DIR"
NAMESPACE_VARIABLE = "VANTREL_SHARED_NAMESPACE"

# Long enough for a loaded machine, short enough that a hang fails the test.
DEFAULT_WAIT_SECONDS = 30.0

_LIBRARY_NAME = "libvantrelusb.so"
# The variables that name each program, for a tree or an installation elsewhere.
_PROGRAM_VARIABLES = {"vantrelio": "K27_VANTRELIO", "k27simctl": "K27_SIMCTL"}
_ENVIRONMENT_LOCK = threading.Lock()
_sequence = itertools.count()


class DaemonError(RuntimeError):
    """The simulated daemon could not be found, did not start, or ended."""

    def __init__(self, message: str, log: str = "") -> None:
        super().__init__(message + (f"\n--- daemon log ---\n{log}" if log else ""))
        self.log = log


class SimCommandError(RuntimeError):
    """The daemon's console refused a command (bad usage) or it failed."""

    def __init__(self, command: Sequence[str], message: str, usage_error: bool) -> None:
        super().__init__(f"{' '.join(command)}: {message}")
        self.command = list(command)
        self.message = message
        self.usage_error = usage_error


@dataclass(frozen=True)
class OutputsState:
    """The simulated board's outputs as it drives them."""

    on: bytes
    off: bytes
    brightness: int

    def lit(self, output: int) -> bool:
        """Whether output bit `output` (0 = bit 0 of the first byte) is on."""
        return bool(self.on[output // 8] & (1 << (output % 8)))


@dataclass(frozen=True)
class ReelState:
    position: int
    error: int
    busy: int
    sync: int


# --- Finding the programs ---------------------------------------------------


def _build_tree() -> Optional[Path]:
    """The CMake build tree this module was copied into, when it runs from one."""
    # build/<preset>/python/k27/testing.py
    candidate = Path(__file__).resolve().parent.parent.parent
    return candidate if (candidate / "CMakeCache.txt").is_file() else None


def find_program(name: str) -> str:
    """Path of `name` ("vantrelio" or "k27simctl").

    Looked for in order: the K27_VANTRELIO / K27_SIMCTL environment
    variable, the build tree this module runs from, PATH, then the
    installation's sbin and bin folders.
    """
    variable = _PROGRAM_VARIABLES[name]
    given = os.environ.get(variable)
    if given:
        if not os.access(given, os.X_OK):
            raise DaemonError(f"{variable}={given} is not an executable program")
        return given
    tree = _build_tree()
    if tree is not None:
        for relative in (f"drivers/vantrelio/{name}", f"tools/{name}"):
            path = tree / relative
            if path.is_file() and os.access(path, os.X_OK):
                return str(path)
    found = shutil.which(name)
    if found:
        return found
    for folder in ("/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"):
        path = os.path.join(folder, name)
        if os.access(path, os.X_OK):
            return path
    raise DaemonError(
        f"cannot find {name}: install the package that ships it (vantrelio, k27-tools), "
        f"put it on PATH or name it in {variable}"
    )


def _library_loaded() -> bool:
    """Whether the board library is already mapped into this process."""
    try:
        with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
            return any(_LIBRARY_NAME in line for line in maps)
    except OSError:
        return "k27._k27" in sys.modules


def _daemon_arguments(options: dict) -> list:
    """--name VALUE for each further option (True: a bare --name; False/None: left out)."""
    arguments = []
    for key, value in options.items():
        flag = "--" + key.replace("_", "-")
        if value is None or value is False:
            continue
        if value is True:
            arguments.append(flag)
        else:
            arguments += [flag, str(value)]
    return arguments


# --- The daemon -------------------------------------------------------------


class SimulatedDaemon:
    """A running ``vantrelio --simulate`` and the console of its boards."""

    def __init__(
        self,
        folder: Path,
        process: subprocess.Popen,
        boards: int,
        namespace: Optional[str],
        simctl: str,
        log: "_LogReader",
    ) -> None:
        self.folder = folder
        self.device_dir = folder / "run"
        self.process = process
        self.boards = boards
        self.namespace = namespace
        self._simctl = simctl
        self._log = log
        self.exit_status: Optional[int] = None

    @property
    def pid(self) -> int:
        return self.process.pid

    @property
    def log(self) -> str:
        """Everything the daemon wrote so far (standard output and error)."""
        return self._log.text()

    def running(self) -> bool:
        return self.process.poll() is None

    def environment(self) -> dict:
        """The variables that lead a program to these boards (for subprocesses)."""
        variables = {DEVICE_DIR_VARIABLE: str(self.device_dir)}
        if self.namespace:
            variables[NAMESPACE_VARIABLE] = self.namespace
        return variables

    # --- Console --------------------------------------------------------

    def command(self, *words: str, board: int = 0) -> str:
        """Runs one console command (``k27simctl COMMAND ...``) and returns its text.

        ``sim.command("inputs 0100000000")`` and ``sim.command("inputs",
        "0100000000")`` are the same. Raises SimCommandError when the console
        refuses or fails it, DaemonError when the daemon no longer runs.
        """
        split = [part for word in words for part in str(word).split()]
        if not split:
            raise ValueError("no command given")
        if not self.running():
            raise DaemonError("the simulated daemon has ended", self.log)
        argv = [self._simctl, "--device-dir", str(self.device_dir), "--board", str(board)]
        result = subprocess.run(
            argv + split,
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            timeout=DEFAULT_WAIT_SECONDS * 2,
            check=False,
        )
        if result.returncode == 0:
            return result.stdout
        message = re.sub(r"^k27simctl: ", "", result.stderr.strip())
        raise SimCommandError(split, message, usage_error=result.returncode == 2)

    def inputs(self, board: int = 0) -> bytes:
        """The five input bytes the board sends."""
        return bytes.fromhex(self._field(self.command("inputs", board=board), "inputs"))

    def set_inputs(self, data: bytes, board: int = 0) -> None:
        if len(data) != 5:
            raise ValueError(f"the inputs are 5 bytes, not {len(data)}")
        self.command("inputs", bytes(data).hex(), board=board)

    def set_input(self, bit: int, on: bool = True, board: int = 0) -> None:
        """Switches one input bit (0-39) and leaves the others as they are."""
        if not 0 <= bit < 40:
            raise ValueError(f"input {bit} is not 0-39")
        data = bytearray(self.inputs(board))
        if on:
            data[bit // 8] |= 1 << (bit % 8)
        else:
            data[bit // 8] &= ~(1 << (bit % 8)) & 0xFF
        self.set_inputs(bytes(data), board)

    def set_dips(self, value: int, board: int = 0) -> None:
        self.command("dips", f"{value:02x}", board=board)

    def pulse(self, bit: int, count: int = 1, board: int = 0) -> None:
        self.command("pulse", str(bit), str(count), board=board)

    def outputs(self, board: int = 0) -> OutputsState:
        text = self.command("outputs", board=board)
        return OutputsState(
            on=bytes.fromhex(self._field(text, "on")),
            off=bytes.fromhex(self._field(text, "off")),
            brightness=int(self._field(text, "brightness")),
        )

    def reels(self, board: int = 0) -> list:
        states = []
        for line in self.command("reels", board=board).splitlines():
            fields = dict(re.findall(r"(\w+)=(-?\d+)", line))
            if fields:
                states.append(ReelState(*(int(fields[k]) for k in ("position", "error", "busy", "sync"))))
        return states

    def attach(self, port: str, peer: str, board: int = 0) -> None:
        """Attaches a peer ("loopback", "silent", "cctalk" or "none") to port A or B."""
        self.command("serial", port, "attach", peer, board=board)

    def push(self, port: str, data: bytes, board: int = 0) -> None:
        """Queues bytes for the board to receive on the port."""
        self.command("serial", port, "push", bytes(data).hex(), board=board)

    def sent(self, port: str, board: int = 0) -> bytes:
        """What the board has sent on the port."""
        return bytes.fromhex(self._field(self.command("serial", port, "sent", board=board), "sent"))

    def fault(self, channel: int, command: int, kind: str, count: Optional[int] = None, board: int = 0) -> None:
        """Damages the replies of `command` on `channel` ("none" heals them)."""
        words = ["fault", str(channel), f"{command:02x}", kind] + ([str(count)] if count is not None else [])
        self.command(*words, board=board)

    def unplug(self, board: int = 0) -> None:
        self.command("unplug", board=board)

    def plug(self, board: int = 0) -> None:
        self.command("plug", board=board)

    def time_us(self, board: int = 0) -> int:
        return int(self.command("time", board=board))

    def advance(self, milliseconds: int, board: int = 0) -> None:
        self.command("advance", str(milliseconds), board=board)

    @staticmethod
    def _field(text: str, name: str) -> str:
        match = re.search(rf"\b{name}=(\S*)", text)
        if match is None:
            raise SimCommandError([name], f"unexpected console reply {text!r}", usage_error=False)
        return match.group(1)

    # --- Ending -------------------------------------------------------

    def stop(self, timeout: float = DEFAULT_WAIT_SECONDS) -> int:
        """SIGTERM, then SIGKILL if it does not end in time; the exit status (-signal when killed)."""
        if self.exit_status is None:
            if self.process.poll() is None:
                self.process.send_signal(signal.SIGTERM)
                try:
                    self.process.wait(timeout=timeout)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
            self.exit_status = self.process.returncode
            self._log.join()
        return self.exit_status


class _LogReader:
    """Reads the daemon's output as it comes, so that its pipe never fills."""

    def __init__(self, stream) -> None:
        self._stream = stream
        self._lines: list = []
        self._ended = False
        self._changed = threading.Condition()
        self._thread = threading.Thread(target=self._read, name="k27-sim-log", daemon=True)
        self._thread.start()

    def _read(self) -> None:
        for line in self._stream:
            with self._changed:
                self._lines.append(line)
                self._changed.notify_all()
        with self._changed:
            self._ended = True
            self._changed.notify_all()

    def text(self) -> str:
        with self._changed:
            return "".join(self._lines)

    def wait_for(self, text: str, timeout: float) -> bool:
        """Waits until a line holds `text`; False once the output ended or the time ran out."""
        with self._changed:
            return bool(
                self._changed.wait_for(
                    lambda: any(text in line for line in self._lines) or self._ended, timeout
                )
            ) and any(text in line for line in self._lines)

    def ended(self) -> bool:
        """Whether the output has ended (the daemon closed it, normally by ending)."""
        with self._changed:
            return self._ended

    def join(self) -> None:
        self._thread.join(DEFAULT_WAIT_SECONDS)
        self._stream.close()


@contextlib.contextmanager
def _environment(changes: dict) -> Iterator[None]:
    """Sets (value) or removes (None) variables for the block, then restores the old values."""
    with _ENVIRONMENT_LOCK:
        saved = {name: os.environ.get(name) for name in changes}
        for name, value in changes.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
    try:
        yield
    finally:
        with _ENVIRONMENT_LOCK:
            for name, value in saved.items():
                if value is None:
                    os.environ.pop(name, None)
                else:
                    os.environ[name] = value


def _choose_namespace(requested: Optional[str]) -> Tuple[Optional[str], bool]:
    """The namespace for the block, and whether it is a private one made for it."""
    if requested is not None:
        return requested or None, False
    current = os.environ.get(NAMESPACE_VARIABLE)
    if current:
        return current, False
    if _library_loaded():
        # The library took its namespace when it was loaded: another one now
        # would split this process's records from its children's.
        warnings.warn(
            f"the board library was loaded without {NAMESPACE_VARIABLE}: this process shares "
            f"the machine's board records; set it before the first 'import k27' to keep "
            f"them apart",
            RuntimeWarning,
            stacklevel=4,
        )
        return None, False
    return f"k27-sim-{os.getpid()}-{next(_sequence)}", True


def _remove_shared_records(namespace: str) -> None:
    """Removes the system objects the library left under `namespace`."""
    for path in glob.glob(f"/dev/shm/{glob.escape(namespace)}.*"):
        with contextlib.suppress(OSError):
            os.remove(path)


@contextlib.contextmanager
def simulated_daemon(
    boards: int = 1,
    eeprom_bytes: Optional[int] = 8192,
    *,
    namespace: Optional[str] = None,
    start_timeout: float = DEFAULT_WAIT_SECONDS,
    **options: Union[str, int, bool, None],
) -> Iterator[SimulatedDaemon]:
    """Runs ``vantrelio --simulate`` for the block; yields its SimulatedDaemon.

    Further daemon options go as keywords: ``iso_devices=2`` gives
    ``--iso-devices 2``, ``verbose=True`` gives ``--verbose``. `namespace` names
    the shared records (default: the one in force, else a private one).
    Raises DaemonError, with the daemon's log, when it does not come up.
    """
    if not 1 <= int(boards) <= 8:
        raise ValueError(f"boards must be 1 to 8, not {boards}")
    vantrelio = find_program("vantrelio")
    simctl = find_program("k27simctl")
    chosen_namespace, private_namespace = _choose_namespace(namespace)
    folder = Path(tempfile.mkdtemp(prefix="k27-sim-"))
    device_dir = folder / "run"
    argv = [vantrelio, "--simulate", "--device-dir", str(device_dir), "--boards", str(int(boards))]
    if eeprom_bytes is not None:
        argv += ["--eeprom-bytes", str(int(eeprom_bytes))]
    argv += _daemon_arguments(options)
    child_environment = dict(os.environ)
    # A service manager's variables (tests run from a unit) must not make the
    # daemon take itself for a service.
    for name in ("NOTIFY_SOCKET", "INVOCATION_ID", "WATCHDOG_USEC", "WATCHDOG_PID", DEVICE_DIR_VARIABLE):
        child_environment.pop(name, None)
    try:
        process = subprocess.Popen(
            argv,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            env=child_environment,
            text=True,
            errors="replace",
            start_new_session=True,  # stopped by stop(), not by a Ctrl-C meant for the tests
        )
    except OSError as error:
        shutil.rmtree(folder, ignore_errors=True)
        raise DaemonError(f"cannot run {vantrelio}: {error}") from error
    sim = SimulatedDaemon(folder, process, int(boards), chosen_namespace, simctl, _LogReader(process.stdout))
    try:
        if not sim._log.wait_for(f"serving {int(boards)} simulated board(s)", start_timeout):
            # Its output ends a moment before the process does: wait for that.
            ended = sim._log.ended() or not sim.running()
            if ended:
                with contextlib.suppress(subprocess.TimeoutExpired):
                    process.wait(timeout=start_timeout)
            status = sim.stop()
            reason = f"ended with status {status}" if ended else f"did not serve within {start_timeout:g} s"
            raise DaemonError(f"{' '.join(argv)}: the simulated daemon {reason}", sim.log)
        changes = {DEVICE_DIR_VARIABLE: str(device_dir)}
        if chosen_namespace is not None:
            changes[NAMESPACE_VARIABLE] = chosen_namespace
        with _environment(changes):
            yield sim
    finally:
        sim.stop()
        shutil.rmtree(folder, ignore_errors=True)
        # Only the programs the block started used it (a library loaded
        # meanwhile in this process keeps its objects to the end).
        if private_namespace and not _library_loaded():
            _remove_shared_records(chosen_namespace)
