"""The K27 board from Python.

    import k27
    with k27.Board(0) as board:
        inputs = board.get_inputs()
        board.write_eeprom(8, b"hello")
        assert board.read_eeprom(8, 5) == b"hello"

Every board function of the C++ library is a method of ``Board`` with a PEP 8
name (``ReadEEPROM`` is ``read_eeprom``). A call the library fails raises
``BoardError`` with the library's error code and its name. A ``Board`` is for
one thread at a time; a second thread that uses it at once gets
``BoardBusyError``. The GIL is released while the board is asked, so other
threads run meanwhile.
"""

from __future__ import annotations

import enum
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import List, Optional, Tuple, Union

__all__ = [
    "Board", "boards", "BoardInfo", "BoardError", "BoardBusyError", "CcTalkError",
    "UsbError", "Port", "PortType", "Parity", "ActiveState", "OutputByte", "HopperState",
    "Inputs", "Outputs", "MultiplexedInputs", "HopperStatus", "PulseResult", "ReelStatus",
    "EepromGeometry", "TimestampedByte", "PolledMessage", "CcTalkPollConfig",
    "RS232PollConfig", "SecuritySwitchRecord", "SecurityFlags", "CcTalkReply", "CcTalkCommand",
    "cctalk_commands",
]


# ---- Enumerations (the values of the library's) -------------------------------

class UsbError(enum.IntEnum):
    """The cause of a failed board call: the board's status byte or a check of
    the library's."""
    USB_MESSAGE_EXECUTION_SUCCESS = 0
    USB_MESSAGE_NOT_RECOGNISED = 1
    USB_MESSAGE_LENGTH_ERROR = 2
    USB_MESSAGE_EXECUTION_FAILURE = 3
    USB_DEVICE_WRITE_ERROR = 4
    USB_DEVICE_READ_ERROR = 5
    USB_DEVICE_RESPONSE_ERROR = 6
    USB_DEVICE_BYTE_COUNT_ERROR = 7
    USB_MESSAGE_PARAMETER_OUT_OF_RANGE = 8
    USB_MESSAGE_UNKNOWN_HANDSHAKE_MODE = 9
    USB_MESSAGE_ILLEGAL_BAUD_RATE = 10
    USB_MESSAGE_ILLEGAL_PORT = 11
    USB_MESSAGE_I2C_NACK = 12
    USB_MESSAGE_I2C_ERROR = 13
    USB_MESSAGE_EXECUTION_TIMEOUT = 14
    USB_MESSAGE_SRAM_ADDRESSING_ERROR = 15
    USB_MESSAGE_REEL_NUMBER_ERROR = 16
    USB_MESSAGE_REEL_BUSY = 17
    USB_MESSAGE_SPIN_TABLE_LENGTH_ERROR = 18
    USB_MESSAGE_TOO_FEW_REEL_STEPS = 19
    USB_MESSAGE_REEL_STATUS_LENGTH_ERROR = 20
    USB_MESSAGE_SYNC_REQUEST_LENGTH_ERROR = 21


class Port(enum.IntEnum):
    """A serial port: A is channel 3, B channel 4."""
    A = 0
    B = 1


class PortType(enum.IntEnum):
    """A serial port's mode."""
    RS232 = 0
    TYPE_1 = 1
    CCTALK = 2
    TYPE_3 = 3


class Parity(enum.IntEnum):
    """Parity of a serial line (the board offers none, odd and even)."""
    NONE = 0
    ODD = 1
    EVEN = 2
    MARK = 3
    SPACE = 4


class ActiveState(enum.IntEnum):
    """Active level of a pulsed input or a hopper's input."""
    LOW = 0
    HIGH = 1


class OutputByte(enum.IntEnum):
    """A byte of an output image."""
    LAMPS_0 = 0
    LAMPS_1 = 1
    LAMPS_2 = 2
    LAMPS_3 = 3
    AUX = 4


class HopperState(enum.IntEnum):
    """A parallel hopper payout's state (other values are the board's)."""
    IDLE = 0


# ---- Errors -------------------------------------------------------------------

class BoardError(Exception):
    """A board call failed: ``code`` (a UsbError, or an int the library has no
    name for), ``name`` (the library's name of the code) and ``call`` (the
    library function)."""

    def __init__(self, code: Union[UsbError, int], name: str, call: str, detail: str = ""):
        self.code = code
        self.name = name
        self.call = call
        text = f"{call} failed: {name} ({int(code)})"
        if detail:
            text += f": {detail}"
        super().__init__(text)

    def __reduce__(self):
        return (type(self), (self.code, self.name, self.call))


class BoardBusyError(RuntimeError):
    """Another thread is using the same Board object."""


class CcTalkError(Exception):
    """A ccTalk transaction without a good reply: ``request`` is the frame
    sent, ``reply`` the one read (None when nothing came)."""

    def __init__(self, message: str, request: bytes, reply: Optional[bytes]):
        super().__init__(message)
        self.request = request
        self.reply = reply


# ---- Records ------------------------------------------------------------------
# What the board returns are plain dataclasses: a frozen one takes twice as
# long to make, a cost every exchange would pay.

@dataclass
class Inputs:
    """An input snapshot: switch inputs 0-23 (input n is bit n), the dip
    switches (0-2 are the board's address) and the fifth byte."""
    switches: int
    dip_switches: int
    fifth: int

    @classmethod
    def from_bytes(cls, raw: bytes) -> "Inputs":
        if len(raw) != 5:
            raise ValueError(f"an input snapshot is 5 bytes, not {len(raw)}")
        return cls(int.from_bytes(raw[0:3], "little"), raw[3], raw[4])

    @property
    def raw(self) -> bytes:
        return self.switches.to_bytes(3, "little") + bytes([self.dip_switches, self.fifth])

    @property
    def address(self) -> int:
        return self.dip_switches & 0x07

    def input(self, number: int) -> bool:
        """Input `number` (0-23) of the switch inputs."""
        if not 0 <= number <= 23:
            raise ValueError(f"input must be 0 to 23, not {number}")
        return bool(self.switches >> number & 1)

    def bit(self, number: int) -> bool:
        """Bit `number` (0-39) of the whole snapshot."""
        if not 0 <= number <= 39:
            raise ValueError(f"bit must be 0 to 39, not {number}")
        return bool(int.from_bytes(self.raw, "little") >> number & 1)


@dataclass(frozen=True)
class Outputs:
    """An output image: lamps 0-31 (lamp n is bit n) and auxiliary outputs
    0-5. Wherever an image is taken, five bytes do as well."""
    lamps: int = 0
    aux: int = 0

    def __post_init__(self):
        if not 0 <= self.lamps <= 0xFFFFFFFF:
            raise ValueError(f"lamps must be 0 to 0xFFFFFFFF, not {self.lamps}")
        if not 0 <= self.aux <= 0xFF:
            raise ValueError(f"aux must be 0 to 255, not {self.aux}")

    @classmethod
    def from_bytes(cls, raw: bytes) -> "Outputs":
        if len(raw) != 5:
            raise ValueError(f"an output image is 5 bytes, not {len(raw)}")
        return cls(int.from_bytes(raw[0:4], "little"), raw[4])

    @classmethod
    def of(cls, *outputs: int) -> "Outputs":
        """The image with outputs `outputs` (0-31 lamps, 32-37 aux 0-5) on."""
        lamps = aux = 0
        for output in outputs:
            if 0 <= output <= 31:
                lamps |= 1 << output
            elif 32 <= output <= 37:
                aux |= 1 << (output - 32)
            else:
                raise ValueError(f"output must be 0 to 37, not {output}")
        return cls(lamps, aux)

    @property
    def raw(self) -> bytes:
        return self.lamps.to_bytes(4, "little") + bytes([self.aux])


@dataclass
class MultiplexedInputs:
    """The multiplexed inputs: one byte, then four groups of three bytes."""
    first: int
    groups: Tuple[bytes, bytes, bytes, bytes]


@dataclass
class HopperStatus:
    """A parallel hopper's payout state (HopperState.IDLE when done) and the
    board's second byte."""
    status: int
    second: int


@dataclass
class PulseResult:
    first: int
    second: int
    third: int


@dataclass
class ReelStatus:
    """Position, error, busy and sync of the three reels."""
    position: Tuple[int, int, int]
    error: Tuple[int, int, int]
    busy: Tuple[int, int, int]
    sync: Tuple[int, int, int]


@dataclass
class EepromGeometry:
    """An EEPROM's geometry: write page, address bytes (1 or 2), last address
    (capacity - 1) and the 7-bit bus address."""
    page_size: int
    address_bytes: int
    last_address: int
    device_address: int

    @property
    def size(self) -> int:
        return self.last_address + 1


@dataclass
class TimestampedByte:
    """A received byte (None for a time alone) and its time."""
    byte: Optional[int]
    time: int


@dataclass
class PolledMessage:
    """The answers kept for a polled-message slot: the status byte and the
    message bytes."""
    status: int
    data: bytes


@dataclass
class CcTalkPollConfig:
    """Two polled messages of a ccTalk port's slot. ``poll_time`` is in ms;
    the library clamps it and the call writes the clamped value back."""
    slot: int
    first_message: bytes = b""
    second_message: bytes = b""
    mode: int = 0
    poll_time: int = 0
    option2: int = 0
    option7: int = 0
    option8: int = 0
    option9: int = 0
    option10: int = 0


@dataclass
class RS232PollConfig:
    """Two polled messages of an RS-232 port's slot; each message is as long
    as its byte at ``length_offset`` plus ``length_adjust``."""
    slot: int
    first_message: bytes = b""
    second_message: bytes = b""
    mode: int = 0
    poll_time: int = 0
    framing: int = 0
    length_offset: int = 0
    length_adjust: int = 0
    option2: int = 0
    option7: int = 0
    option8: int = 0
    option9: int = 0
    option10: int = 0


@dataclass
class SecuritySwitchRecord:
    time: int
    state: int


@dataclass
class SecurityFlags:
    first: int
    second: int


@dataclass
class CcTalkReply:
    """A decoded ccTalk reply: addresses, header, the reply's name from the
    dictionaries (or ACK, NAK, BUSY), its data and the dictionary's layout of
    it, and the whole frame."""
    destination: int
    source: int
    header: int
    name: str
    data: bytes
    layout: str
    frame: bytes


@dataclass(frozen=True)
class CcTalkCommand:
    """A command of the ccTalk dictionaries (data_length 0: none, or any)."""
    header: int
    name: str
    data_length: int
    data: str
    description: str


from ._k27 import Board, cctalk_commands  # noqa: E402  (the records above come first)
from . import _k27  # noqa: E402


# ---- ccTalk dictionaries --------------------------------------------------------

def _dictionary_folders() -> List[str]:
    """$K27_CCTALK_DICTIONARIES (folders separated by ':'), else the
    dictionaries of the build tree or the installation this package is in."""
    chosen = os.environ.get("K27_CCTALK_DICTIONARIES")
    if chosen:
        return [folder for folder in chosen.split(os.pathsep) if folder]
    here = Path(__file__).resolve().parent
    candidates = [
        here.parent.parent / "share" / "k27diag" / "dictionaries",  # <build>/python/k27
        here.parents[3] / "share" / "k27diag" / "dictionaries",  # <prefix>/lib/python3/dist-packages/k27
        Path("/usr/share/k27diag/dictionaries"),
    ]
    return [str(folder) for folder in candidates if folder.is_dir()][:1]


_k27.set_cctalk_dictionary_folders(_dictionary_folders())


# ---- The boards present ---------------------------------------------------------

@dataclass(frozen=True)
class BoardInfo:
    """What identifies a board, as ``k27ctl list`` shows it."""
    index: int
    address: int
    library: str
    firmware_8051: str
    pic: str
    serial: bytes
    eeprom: EepromGeometry = field(repr=True)


def boards(indexes=range(8)) -> List[BoardInfo]:
    """The boards present among `indexes` (instances 0-7, as ``k27ctl list``),
    with what identifies each. Opening a board probes its EEPROM, as every
    program's start does."""
    found = []
    for index in indexes:
        try:
            board = Board(index)
        except BoardError:
            continue
        with board:
            geometry = board.check_eeprom()
            # The probe leaves the board as it was; give it what it found, as
            # k27ctl list does.
            board.configure_eeprom(geometry)
            found.append(BoardInfo(
                index=index,
                address=board.get_inputs().address,
                library=f"{board.dll_version()}.{board.product_version()}",
                firmware_8051=board.firmware_version(),
                pic=board.pic_version(),
                serial=board.pic_serial_number(),
                eeprom=geometry,
            ))
    return found
