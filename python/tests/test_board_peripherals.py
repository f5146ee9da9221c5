"""Outputs, reels, pulse counters, serial ports and ccTalk line faults from
Python, checked on the simulated board's side."""

import time

import pytest

import k27


def test_output_periods_masks_and_brightness(sim, board):
    board.set_on_period_outputs(k27.Outputs(lamps=0x0000_0101, aux=0x01))
    board.set_off_period_outputs(bytes([0, 0, 0, 0x80, 0]))
    state = sim.outputs()
    assert state.on == bytes([0x01, 0x01, 0, 0, 0x01]) and state.off == bytes([0, 0, 0, 0x80, 0])
    board.set_on_period_output_bit(k27.OutputByte.LAMPS_2, 3, True)
    assert sim.outputs().on[2] == 0x08
    board.modify_outputs(off_mask=k27.Outputs.of(0), on_mask=k27.Outputs.of(30))
    state = sim.outputs()
    assert not state.lit(0) and state.lit(30) and state.lit(8)
    board.set_output_brightness(7)
    assert sim.outputs().brightness == 7
    with pytest.raises(k27.BoardError, match="USB_MESSAGE_PARAMETER_OUT_OF_RANGE"):
        board.set_on_period_output_bit(5, 0, True)  # bytes are 0-4
    with pytest.raises(k27.BoardError, match="USB_MESSAGE_PARAMETER_OUT_OF_RANGE"):
        board.set_output_bit(38, True)
    image = k27.Outputs.of(1, 31, 37)
    assert k27.Outputs.from_bytes(image.raw) == image
    with pytest.raises(ValueError):
        k27.Outputs(lamps=1 << 32)


def test_reels_spin_and_report(sim, board):
    board.configure_reels_ex(3, 400, 0)
    board.spin_ramp_up(0, bytes([10, 8, 6]))
    board.spin_reels(0, 1, 40)  # one way of the board's two (1 and 255)
    # Once the reel stands, the board and the simulator agree on where.
    deadline = time.monotonic() + 60
    while board.get_reel_status_ex().busy[0] and time.monotonic() < deadline:
        sim.advance(50)
    status = board.get_reel_status_ex()
    assert status.busy[0] == 0
    assert [reel.position for reel in sim.reels()] == list(status.position)
    assert board.get_reel_status().position == tuple(value & 0xFF for value in status.position)
    with pytest.raises(k27.BoardError, match="USB_MESSAGE_PARAMETER_OUT_OF_RANGE"):
        board.spin_ramp_down(0, bytes(62))  # tables hold at most 61 entries


def test_pulse_counter_counts_what_the_input_sees(sim, board):
    board.configure_pulsed_input(4, 1, k27.ActiveState.HIGH)
    board.reset_pulsed_input_counter(4)
    board.begin_pulsed_input_check(4)
    sim.pulse(4, 3)
    assert board.read_pulsed_input_counter(4) == 3
    board.decrement_pulsed_input_counter(4)
    assert board.read_pulsed_input_counter(4) == 2
    board.end_pulsed_input_check(4)


def test_serial_bytes_time_out_message_and_polling(sim, board):
    sim.attach("B", "silent")
    board.set_config(k27.Port.B, 19200, k27.PortType.RS232, parity=k27.Parity.EVEN)
    sim.push("B", b"\x42")
    got = board.receive_byte_with_timestamp(k27.Port.B)
    assert isinstance(got, k27.TimestampedByte)
    board.set_timeout_message(k27.Port.B, b"", 0.5)  # an empty message is a message
    with pytest.raises(k27.BoardError, match="USB_MESSAGE_PARAMETER_OUT_OF_RANGE"):
        board.set_timeout_message(k27.Port.B, b"x", 8.0)
    with pytest.raises(k27.BoardError, match="USB_DEVICE_BYTE_COUNT_ERROR"):
        board.set_timeout_message(k27.Port.B, bytes(61), 1.0)
    with pytest.raises(k27.BoardError, match="USB_MESSAGE_ILLEGAL_BAUD_RATE"):
        board.set_config(k27.Port.A, 300, k27.PortType.RS232)
    assert board.get_parity_errors(k27.Port.B) >= 0

    config = k27.CcTalkPollConfig(slot=1, first_message=bytes([2, 0, 1, 254, 255]),
                                  second_message=bytes([2, 0, 1, 254, 255]), poll_time=9000)
    board.configure_cctalk_port(k27.Port.B, config)
    assert config.poll_time == 2550  # clamped by the library and written back
    message = board.receive_polled_message(k27.Port.B, 1)
    assert isinstance(message, k27.PolledMessage) and isinstance(message.data, bytes)
    board.empty_polled_buffer(k27.Port.B, 1)
    board.delete_polled_message(k27.Port.B, 1)


def test_cctalk_line_faults_raise_cctalk_error(sim, board):
    sim.attach("A", "cctalk")
    assert board.cctalk(k27.Port.A, "simple poll").name == "ACK"
    sim.command("serial", "A", "reply", "checksum")
    with pytest.raises(k27.CcTalkError, match="bad checksum") as error:
        board.cctalk(k27.Port.A, 254)
    assert error.value.reply is not None
    sim.command("serial", "A", "reply", "normal")
    sim.command("serial", "A", "power", "off")
    with pytest.raises(k27.CcTalkError, match="no 12V power"):
        board.cctalk(k27.Port.A, 254)
    sim.command("serial", "A", "power", "on")
    assert board.cctalk(k27.Port.A, 254).name == "ACK"
