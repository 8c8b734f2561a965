#!/usr/bin/python3
# A MIDI thru built on RtMidi's JACK backend, to compare against: each
# message that reaches thru-in:in is sent on thru-out:out. Runs until its
# standard input closes.
import sys

import rtmidi

out = rtmidi.MidiOut(rtapi=rtmidi.API_UNIX_JACK, name="thru-out")
out.open_virtual_port("out")
inp = rtmidi.MidiIn(rtapi=rtmidi.API_UNIX_JACK, name="thru-in")
inp.ignore_types(False, False, False)
inp.set_callback(lambda event, data: out.send_message(event[0]))
inp.open_virtual_port("in")
print("ready", flush=True)
sys.stdin.read()
