"""Failures reach Python as exceptions that say what went wrong: the
library's failures as BoardError with its code and name, bad arguments and a
closed board as Python's own exceptions, never a crash."""

import pickle

import pytest

import k27


def test_library_failures_carry_code_name_and_call(sim, board):
    with pytest.raises(k27.BoardError) as error:
        board.read_eeprom(0, 4)  # below the first public address
    assert error.value.code is k27.UsbError.USB_MESSAGE_PARAMETER_OUT_OF_RANGE
    assert error.value.name == "USB_MESSAGE_PARAMETER_OUT_OF_RANGE"
    assert error.value.call == "ReadEEPROM"
    assert "ReadEEPROM failed: USB_MESSAGE_PARAMETER_OUT_OF_RANGE (8)" in str(error.value)
    assert board.last_error() == 8
    board.clear_errors()
    assert board.last_error() == 0

    sim.fault(1, 0x4B, "short", 1)  # a reply without its echo and status
    with pytest.raises(k27.BoardError) as error:
        board.get_inputs()
    assert error.value.name == "USB_DEVICE_BYTE_COUNT_ERROR" and error.value.call == "GetInputs"
    board.get_inputs()  # healed after one

    sim.fault(5, 0x15, "status=3", 1)  # the board's own status byte
    with pytest.raises(k27.BoardError, match="USB_MESSAGE_EXECUTION_FAILURE"):
        board.get_clock()

    # Every code has a name, 11 included, which the library's table leaves
    # unnamed.
    with pytest.raises(k27.BoardError) as error:
        board.get_parity_errors(5)
    assert error.value.name == "USB_MESSAGE_ILLEGAL_PORT" and error.value.code == 11
    copy = pickle.loads(pickle.dumps(error.value))
    assert (copy.code, copy.name, copy.call) == (11, "USB_MESSAGE_ILLEGAL_PORT", "GetParityErrors")


@pytest.mark.parametrize(
    "call, exception, message",
    [
        (lambda b: b.read_eeprom(8, -1), ValueError, "length must be 0 to 65536, not -1"),
        (lambda b: b.read_eeprom(8, 1 << 20), ValueError, "length must be 0 to 65536"),
        (lambda b: b.read_sram(-5, 4), ValueError, "address must be 0 to 65535, not -5"),
        (lambda b: b.write_eeprom(8, bytes(70000)), ValueError, "more than the 65536"),
        (lambda b: b.write_eeprom(8, "text"), TypeError, "data must be bytes-like"),
        (lambda b: b.write_eeprom(8, [1, 2]), TypeError, "data must be bytes-like"),
        (lambda b: b.read_eeprom("8", 4), TypeError, "incompatible function arguments"),
        (lambda b: b.set_pic_serial_number(b"123"), ValueError, "serial must be 8 bytes long, not 3"),
        (lambda b: b.set_outputs(bytes(4)), ValueError, "image must be 5 bytes long, not 4"),
        (lambda b: b.set_outputs(7), TypeError, "image must be bytes-like"),
        (lambda b: b.spin_reels(0, 1, 70000), ValueError, "steps must be 0 to 65535"),
        (lambda b: b.spin_ramp_up(0, bytes(64)), ValueError, "more than the 63"),
        (lambda b: b.set_clock(-1), ValueError, "value must be 0 to 4294967295"),
        (lambda b: b.set_timeout_message(0, b"x", float("nan")), ValueError, "finite"),
        (lambda b: b.send_spi(9, b"\x01", 0, 0), ValueError, "data must be 2 bytes long"),
        (lambda b: b.configure_eeprom(k27.EepromGeometry(32, "2", 8191, 0x50)), TypeError,
         "address_bytes must be an int"),
        (lambda b: b.configure_cctalk_port(0, k27.CcTalkPollConfig(0, first_message=bytes(26))),
         ValueError, "first_message holds 26 bytes"),
        (lambda b: b.cctalk(0, 3.5), TypeError, "header must be an int"),
        (lambda b: b.cctalk(0, 254, bytes(256)), ValueError, "more than the 255"),
        (lambda b: b.cctalk(0, "modify inhibit status"), ValueError, "takes 2 data byte"),
    ],
)
def test_bad_arguments_raise_before_anything_is_sent(board, call, exception, message):
    with pytest.raises(exception, match=message.replace("(", r"\(").replace(")", r"\)")):
        call(board)
    assert board.get_inputs() is not None  # the board still answers


def test_a_closed_board_and_boards_that_are_not_there(sim):
    board = k27.Board(0)
    board.close()
    assert board.closed
    with pytest.raises(ValueError, match="the Board is closed"):
        board.get_inputs()
    with pytest.raises(ValueError, match="the Board is closed"):
        board.read_eeprom(8, 4)
    board.close()  # again: nothing to do
    with k27.Board(0) as used:
        pass
    assert used.closed
    with pytest.raises(k27.BoardError, match="no board 3 is there") as error:
        k27.Board(3)
    assert error.value.call == "init"
    with pytest.raises(ValueError, match="index must be 0 to 15, not 16"):
        k27.Board(16)
    with pytest.raises(k27.BoardError, match="no board has the address 5"):
        k27.Board.by_address(5)
    with k27.Board.by_address(0) as found:
        assert found.index is None and found.get_inputs().address == 0


def test_boards_lists_what_is_there(sim):
    found = k27.boards()
    assert [info.index for info in found] == [0]
    info = found[0]
    assert info.library == "35.28" and info.address == 0
    assert info.eeprom.size == 8192 and len(info.serial) == 8
