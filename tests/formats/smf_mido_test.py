#!/usr/bin/env python3
"""Reads the MIDI files that `quaverly-cli export` writes with another program's reader (mido)
and checks them against the compiler's own events and the players' send timeline
(`quaverly-cli events --at`): the tracks and their port meta events, every message in order, the
tempo map, and the time at which a standard player plays every message.

Usage: smf_mido_test.py QUAVERLY_CLI PIECE_OR_DIRECTORY...
"""
import json
import os
import subprocess
import sys
import tempfile

try:
    import mido
except ImportError:
    sys.exit("mido is missing: install python3-mido (scripts/deps)")

# How each piece is expected to be written: as its own tempo map, or converted to the fixed tempo
# because its ports follow different tempos.
EXPECTED = {
    "shared.mml": "map",
    "different.mml": "fixed",
    "kaeru.mml": "map",
}
FIXED_NOTE = "ポートごとにテンポが異なるため、固定テンポ (125) で時刻を変換して書き出しました"
TOLERANCE_MS = 1.0 + 1e-6  # 1 ms, and what the float sums of two programs may differ by

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def short_length(status):
    return 2 if (status & 0xF0) in (0xC0, 0xD0) else 3


def message_bytes(event):
    if event["kind"] == "short":
        return [event["status"], event["data1"], event["data2"]][: short_length(event["status"])]
    return event["data"]


def file_message_bytes(msg):
    if msg.type == "sysex":
        return [0xF0, *msg.data, 0xF7]
    return msg.bytes()


def collapse(changes):
    """Tempo changes at one tick keep the last."""
    result = []
    for tick, tempo in changes:
        if result and result[-1][0] == tick:
            result[-1] = (tick, tempo)
        else:
            result.append((tick, tempo))
    return result


def compiled(cli, piece):
    run = subprocess.run([cli, "events", "--at", piece], capture_output=True, text=True)
    if run.returncode != 0:
        raise SystemExit(f"{piece}: events failed: {run.stderr}{run.stdout}")
    events, start_tempos = [], {}
    for line in run.stdout.splitlines():
        item = json.loads(line)
        if "kind" in item:
            events.append(item)
        elif "player" in item:
            start_tempos[item["player"]] = item["tempo"]
    return events, start_tempos


def ms_of_ticks(tempo_map, ticks_per_beat):
    """A function from a tick to milliseconds under the file's tempo map, as a player counts."""

    def ms(tick):
        total, at, tempo = 0.0, 0, 500000
        for change_tick, change_tempo in tempo_map:
            if change_tick > tick:
                break
            total += mido.tick2second(change_tick - at, ticks_per_beat, tempo)
            at, tempo = change_tick, change_tempo
        return 1000.0 * (total + mido.tick2second(tick - at, ticks_per_beat, tempo))

    return ms


def check_piece(cli, piece, expected, workdir):
    name = os.path.basename(piece)
    events, start_tempos = compiled(cli, piece)
    out = os.path.join(workdir, name + ".mid")
    run = subprocess.run([cli, "export", piece, "-o", out], capture_output=True, text=True)
    if not check(run.returncode == 0, f"{name}: export exit {run.returncode}: {run.stderr}"):
        return
    if expected == "map":
        check(run.stderr == "", f"{name}: unexpected note on standard error: {run.stderr!r}")
    else:
        check(run.stderr == FIXED_NOTE + "\n", f"{name}: note on standard error: {run.stderr!r}")

    midi = mido.MidiFile(out)
    check(midi.type == 1 and midi.ticks_per_beat == 480, f"{name}: type {midi.type}, division {midi.ticks_per_beat}")

    # The first track holds the tempo map and nothing else.
    tempo_map, tick = [], 0
    for msg in midi.tracks[0]:
        tick += msg.time
        if msg.type == "set_tempo":
            tempo_map.append((tick, msg.tempo))
        else:
            check(msg.type in ("end_of_track", "track_name"), f"{name}: {msg} in the tempo track")

    played = [e for e in events if e["kind"] in ("short", "sysex")]
    if expected == "map":
        # The tempo changes of every port that makes any, at their own ticks.
        for port in sorted({e["port"] for e in events if e["kind"] == "tempo"}):
            changes = [(0, start_tempos[port])] + [
                (round(e["time"] * 0.48), e["tempo"]) for e in events if e["kind"] == "tempo" and e["port"] == port
            ]
            want = [(t, round(60000000 / tempo)) for t, tempo in collapse(changes)]
            check(tempo_map == want, f"{name}: tempo map {tempo_map}, port {port} changes {want}")
    else:
        check(tempo_map == [(0, 480000)], f"{name}: fixed tempo map {tempo_map}")
    ms = ms_of_ticks(tempo_map, midi.ticks_per_beat)

    # One track per MML track and port that played, in order of track, then port.
    keys = sorted({(e["track"], e["port"]) for e in played})
    ports_of = {}
    for track, port in keys:
        ports_of.setdefault(track, []).append(port)
    tracks = midi.tracks[1:]
    check(len(tracks) == len(keys), f"{name}: {len(tracks)} tracks for {keys}")
    for (track, port), file_track in zip(keys, tracks):
        label = f"Track {track}" + (f" (port {port})" if len(ports_of[track]) > 1 else "")
        head = [(m.type, getattr(m, "name", None), getattr(m, "port", None)) for m in file_track[:2]]
        check(head == [("track_name", label, None), ("midi_port", None, port - 1)], f"{name}: {label} begins {head}")
        check(file_track[-1].type == "end_of_track", f"{name}: {label} does not end with end_of_track")

        want = [e for e in played if (e["track"], e["port"]) == (track, port)]
        got, tick = [], 0
        for msg in file_track:
            tick += msg.time
            if not msg.is_meta:
                got.append((tick, file_message_bytes(msg)))
        if not check(len(got) == len(want), f"{name}: {label} has {len(got)} messages, the port list {len(want)}"):
            continue
        for i, (event, (tick, data)) in enumerate(zip(want, got)):
            check(data == message_bytes(event), f"{name}: {label} message {i}: {data} for {event}")
            at = ms(tick)
            check(abs(at - event["at"]) <= TOLERANCE_MS, f"{name}: {label} message {i} plays at {at:.3f} ms, the player sends it at {event['at']:.3f} ms")


def main():
    cli, paths = sys.argv[1], sys.argv[2:]
    pieces = []
    for path in paths:
        if os.path.isdir(path):
            pieces += sorted(os.path.join(path, f) for f in os.listdir(path) if f.endswith(".mml"))
        else:
            pieces.append(path)
    with tempfile.TemporaryDirectory() as workdir:
        for piece in pieces:
            expected = EXPECTED.get(os.path.basename(piece))
            if check(expected is not None, f"{piece}: no expectation in EXPECTED"):
                check_piece(cli, piece, expected, workdir)
    for failure in failures[:50]:
        print("FAIL:", failure)
    if failures:
        print(f"{len(failures)} failures")
        return 1
    print(f"{len(pieces)} pieces exported and read back")
    return 0


if __name__ == "__main__":
    sys.exit(main())
