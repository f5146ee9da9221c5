"""The board functions from Python against a simulated board: values come
back with Python types and reach the board as the C++ calls send them."""

import pytest

import k27


def test_inputs_as_the_simulator_sets_them(sim, board):
    sim.set_inputs(bytes([0x05, 0x80, 0x01, 0x03, 0x7E]))
    inputs = board.get_inputs()
    assert isinstance(inputs, k27.Inputs)
    assert inputs.switches == 0x018005
    assert inputs.dip_switches == 0x03 and inputs.address == 3 and inputs.fifth == 0x7E
    assert inputs.raw == bytes([0x05, 0x80, 0x01, 0x03, 0x7E])
    assert inputs.input(0) and not inputs.input(1) and inputs.input(15) and inputs.input(16)
    assert board.get_input_bit(2) is True and board.get_input_bit(3) is False
    assert board.get_input_bit(32) is False  # bit 0 of the fifth byte
    sim.set_inputs(bytes(5))
    assert board.get_inputs().switches == 0


def test_outputs_reach_the_board(sim, board):
    board.set_outputs(k27.Outputs.of(0, 9, 33))
    state = sim.outputs()
    assert state.lit(0) and state.lit(9) and state.lit(33) and not state.lit(1)
    board.set_output_bit(5, True)
    assert sim.outputs().lit(5)
    board.set_outputs(bytes(5))  # five bytes do as an image
    assert not any(sim.outputs().lit(n) for n in (0, 5, 9, 33))
    with pytest.raises(ValueError, match="0 to 37"):
        k27.Outputs.of(38)


def test_eeprom_and_sram_round_trips(board):
    geometry = board.check_eeprom()
    assert isinstance(geometry, k27.EepromGeometry)
    assert geometry.size == 8192
    board.configure_eeprom(geometry)
    record = bytes(range(200))  # several exchanges each way
    board.write_eeprom(8, record)
    assert board.read_eeprom(8, 200) == record
    board.write_eeprom(100, bytearray(b"\xaa\x55"))  # any bytes-like
    assert board.read_eeprom(100, 2) == b"\xaa\x55"
    assert board.read_eeprom(8, 0) == b""
    board.write_sram(0x100, memoryview(bytes(range(100))))
    assert board.read_sram(0x100, 100) == bytes(range(100))


def test_versions_clock_and_records(board):
    assert board.dll_version() == "35" and board.product_version() == "28"
    assert isinstance(board.firmware_version(), str) and board.firmware_version()
    assert isinstance(board.pic_version(), str)
    serial = board.pic_serial_number()
    assert isinstance(serial, bytes) and len(serial) == 8
    board.set_clock(123456)
    assert board.get_clock() >= 123456
    status = board.get_reel_status_ex()
    assert isinstance(status, k27.ReelStatus)
    assert all(len(values) == 3 for values in (status.position, status.error, status.busy, status.sync))
    board.enable_random_number_generator(7)
    assert 0 <= board.get_random_number() <= 0xFFFF
    board.disable_random_number_generator()
    assert board.last_error() is k27.UsbError.USB_MESSAGE_EXECUTION_SUCCESS


def test_serial_loopback(sim, board):
    sim.attach("A", "loopback")
    board.set_config(k27.Port.A, 9600, k27.PortType.RS232)
    board.send(k27.Port.A, b"hello")
    received = b""
    for _ in range(50):  # the loopback delivers in the board's time
        received += board.receive(k27.Port.A)
        if len(received) >= 5:
            break
        sim.advance(10)
    assert received == b"hello"


def test_cctalk_by_name_and_by_header(sim, board):
    sim.attach("B", "cctalk")
    reply = board.cctalk(k27.Port.B, "simple poll")
    assert isinstance(reply, k27.CcTalkReply)
    assert (reply.header, reply.name, reply.data, reply.source, reply.destination) == (0, "ACK", b"", 2, 1)
    assert board.cctalk(k27.Port.B, 254).name == "ACK"
    names = {command.name.lower(): command.header for command in k27.cctalk_commands()}
    assert names["simple poll"] == 254
    with pytest.raises(ValueError, match="no ccTalk command named 'no such command'"):
        board.cctalk(k27.Port.B, "no such command")
    with pytest.raises(k27.CcTalkError, match="no reply from address 9") as error:
        board.cctalk(k27.Port.B, 254, destination=9)
    assert error.value.request[0] == 9 and error.value.reply is None


def test_every_function_carries_the_library_text():
    # A few texts word for word, and none left empty.
    assert k27.Board.read_eeprom.__doc__.count("Reads `length` bytes from `address`") == 1
    assert "(channel 1, 0x4B)" in k27.Board.get_inputs.__doc__
    public = [name for name in dir(k27.Board) if not name.startswith("_")]
    undocumented = [name for name in public if name not in ("closed", "index")
                    and len((getattr(k27.Board, name).__doc__ or "").splitlines()) < 2]
    assert undocumented == []


def test_the_type_stubs_match_the_module():
    import ast
    import re
    from pathlib import Path

    stub = ast.parse((Path(k27.__file__).parent / "_k27.pyi").read_text())
    (board_class,) = [node for node in stub.body if isinstance(node, ast.ClassDef) and node.name == "Board"]
    stubbed = {node.name: [arg.arg for arg in node.args.args if arg.arg != "self"]
               for node in board_class.body if isinstance(node, ast.FunctionDef)}
    for name in dir(k27.Board):
        if name.startswith("_") or name in ("closed", "index"):
            continue
        signature = getattr(k27.Board, name).__doc__.splitlines()[0]
        parameters = re.findall(r"(\w+): ", signature.split("(", 1)[1])
        assert stubbed.get(name) == [p for p in parameters if p != "self"], name
    assert (Path(k27.__file__).parent / "py.typed").exists()
