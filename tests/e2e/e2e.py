# Drives one end-to-end sound case through the rig and judges it:
#
#   e2e.py play PROGRAM MODE RATE CHANNELS [--fault drop|repeat|zero N]
#       PROGRAM is vocora-host for the modes directsound, volume, waveout and
#       fallback (DSOUND.DLL not loaded), rig_probe for dsound (the rig's check)
#   e2e.py capture VOCORA_HOST RATE CHANNELS SECONDS AEC DATALEN [--fault ...]
#   e2e.py loopback VOCORA_HOST [--waveout]    the output routed into the microphone
#   e2e.py lost VOCORA_HOST restart|unload     the sound server, or its devices, go and come back
#
# Every check prints one line with what was expected and what was measured.
# Played and captured signals are a counter, one more each frame, with the
# sound server's sink or microphone in the signal's own format, so nothing is
# resampled and the bytes that arrive can be compared exactly. The library
# moves audio in whole blocks, so what it loses, repeats or zeroes is a whole
# block. The sound server now and then runs a stream dry for a few tens of
# milliseconds: the signal falls silent and goes on with nothing missing (or,
# in the microphone feed, shifted by no whole number of blocks). A take it
# spoiled proves nothing and is taken again, up to three times. --fault drops,
# repeats or zeroes block N of the signal (or of the recording) on purpose, to
# show that the judging catches it.
import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import wave

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ENV = dict(kv.split('=', 1) for kv in subprocess.run(
    ['bash', '-c', f'set -a; . {ROOT}/scripts/rig_env.sh; env -0'],
    check=True, capture_output=True, text=True).stdout.split('\0') if '=' in kv)
failed = []


def check(ok, what, expected, measured):
    failed.extend([] if ok else [what])
    print(f"{'ok  ' if ok else 'FAIL'} {what}: expected {expected}, measured {measured}", flush=True)
    return ok


def run(*args, env=ENV, timeout=60):
    out = subprocess.run([f'{ROOT}/scripts/wine-run.sh', *args], env=env, capture_output=True, text=True, timeout=timeout)
    print(out.stdout + out.stderr, end='', flush=True)
    return out


def wine(*args, **kw):
    out = run(*args, **kw)
    return out.stdout if check(out.returncode == 0, 'the program', 'status 0', out.returncode) else None


def windows(path):
    return 'Z:' + path  # Wine's view of /


@contextlib.contextmanager
def stopping(*procs):
    """Runs the body while procs run; then SIGTERM and wait, so that parec writes out what it holds."""
    try:
        yield procs
    finally:
        for p in procs:
            if p:
                p.terminate()
                p.wait()


def rig(*args, until_stopped=False):
    """scripts/rig.sh: the rig's devices, and recording from or feeding them until stopped."""
    cmd = ['bash', f'{ROOT}/scripts/rig.sh', *map(str, args)]
    return subprocess.Popen(cmd, env=ENV) if until_stopped else subprocess.run(cmd, env=ENV, check=True)


def damage(x, block, fault):
    """x with block n dropped, repeated or zeroed: --fault KIND N."""
    if not fault:
        return x
    kind, n = fault[1], int(fault[2]) * block
    return {'drop': lambda: np.r_[x[:n], x[n + block:]], 'repeat': lambda: np.r_[x[:n + block], x[n:]],
            'zero': lambda: np.r_[x[:n], np.zeros_like(x[n:n + block]), x[n + block:]]}[kind]()


# Each channel counts frames from 1 on, the second offset by 0x4000.
def counter(frames, chans):
    return ((1 + np.arange(frames)[:, None] + 0x4000 * np.arange(chans)) & 0xffff).astype('<u2')


# What came through, silence trimmed at both ends, must be one unbroken run of
# the counter: (frames, first value) when it is, and why the take is void when
# the sound server dropped out; a break of the library's fails. Played at a
# gain below 1, the counter is scaled back by the gain its first 4000 frames
# show, and each value may then be two off.
def unbroken(got, block, scaled=False):
    loud = np.flatnonzero(got.any(axis=1))
    if not check(len(loud) > 0, 'the counter came through', 'sound', f'{len(loud)} frames of sound'):
        return None, None
    got = got[loud[0]:loud[-1] + 1].astype(np.int64)
    if scaled:
        s = got.astype(np.uint16).view('<i2').astype(float)
        gain = np.polyfit(np.arange(4000), s[:4000, 0], 1)[0]
        got = np.round(s / gain).astype(np.int64) & 0xffff
    first = int(np.median(got[:1000, 0] - np.arange(len(got[:1000])))) if scaled else int(got[0, 0])
    want = (first + np.arange(len(got))[:, None] + 0x4000 * np.arange(got.shape[1])) & 0xffff
    bad = np.flatnonzero((np.abs((got - want + 0x8000) % 0x10000 - 0x8000) > 2 * scaled).any(axis=1))
    if not len(bad):
        return (len(got), first), None
    at = bad[0]
    zeros = int(np.argmax(got[at:].any(axis=1)))
    jump = (int(got[at + zeros, 0]) - int(want[at, 0]) + 0x8000) % 0x10000 - 0x8000
    off = 2 * scaled  # what a scaled value may be off by
    if (zeros and abs(jump) <= off) or (not zeros and jump > 0 and off < jump % block < block - off):
        return None, f'at frame {at} {zeros} frames of silence, then the counter moves on by {jump}'
    check(False, 'the counter unbroken', 'nothing lost, repeated or zeroed',
          f'at frame {at} {zeros} frames of zeros, then a jump of {jump} frames ({jump / block:+.2f} blocks)')
    return None, None


def play(work, take, exe, mode, rate, chans, *fault):
    rate, chans = int(rate), int(chans)
    x = damage(counter(3 * rate, chans), rate // 50, fault)
    if mode == 'dsound':
        x.tofile(f'{work}/signal.raw')
        args = [mode, str(rate), str(chans), windows(f'{work}/signal.raw')]
    else:
        with wave.open(f'{work}/signal.wav', 'wb') as w:
            w.setnchannels(chans), w.setsampwidth(2), w.setframerate(rate), w.writeframes(x.tobytes())
        args = ['play', windows(f'{work}/signal.wav')] + {'volume': ['--volume', '128'], 'waveout': ['--waveout']}.get(mode, [])
    env = dict(ENV, WINEDLLOVERRIDES='dsound=d;' + ENV['WINEDLLOVERRIDES']) if mode == 'fallback' else ENV
    raw = f'{work}/take{take}.raw'
    with stopping(rig('record', raw, rate, chans, until_stopped=True)):
        time.sleep(0.5)
        said = wine(exe, *args, env=env)
        time.sleep(0.5)
    if said is None:
        return None
    if mode != 'dsound':
        want = 'DirectSound' if mode in ('directsound', 'volume') else 'waveOut'
        player = re.search(r'^player: (\w+)', said, re.M)
        check(player and player.group(1) == want, 'the player', want, player and player.group(1))
    y = np.fromfile(raw, '<u2')
    y = y[:len(y) // chans * chans].reshape(-1, chans)
    if mode == 'volume':  # 128 is about 6 dB down on DirectSound
        loud = y[np.flatnonzero(y.any(axis=1))].view('<i2').astype(float)
        level = 10 * np.log10((loud ** 2).mean() / (x.view('<i2').astype(float) ** 2).mean()) if len(loud) else -99
        check(abs(level + 6) <= 1, 'the level at volume 128', '-6 dB within 1 dB', f'{level:.1f} dB')
    run, void = unbroken(y, rate // 50, mode == 'volume')
    if run:
        check(run == (len(x), 1), 'every frame heard once, in order', f'{len(x)} frames from 1',
              f'{run[0]} frames from {run[1]}')
    return void


def capture(work, take, exe, rate, chans, seconds, aec, datalen, *fault):
    rate, chans, datalen = int(rate), int(chans), int(datalen)
    wav = f'{work}/take{take}.wav'
    with stopping(rig('feed', f'{work}/feed.raw', rate, chans, until_stopped=True)):
        time.sleep(1.5)  # capture notifications are late until the feed has run for a moment
        said = wine(exe, 'record', windows(wav), '--seconds', seconds, '--rate', str(rate), '--channels', str(chans),
                    '--block', str(datalen), *(['--aec'] if aec == '1' else []))
    # The library's block: 2 x channels x the smallest power of two of frames at least rate / 1000 x 46.
    block = datalen // 2 // chans or 1 << (rate // 1000 * 46 - 1).bit_length()
    if said is None:
        return None
    with wave.open(wav) as w:
        got = damage(np.frombuffer(w.readframes(w.getnframes()), '<u2').reshape(-1, chans), block, fault)
    run, void = unbroken(got, block)
    if run:
        check(run[0] >= (float(seconds) - 1) * rate, 'the fed counter captured unbroken', f'{float(seconds) - 1} s or more',
              f'{run[0] / rate:.2f} s')
    return void


# The output's monitor goes into the microphone feed for the run; a take in
# which the sound server dropped out is void, as elsewhere.
def loopback(work, take, exe, *args):
    rig('route', 'on')
    try:
        out = run(exe, 'loopback', '--seconds', '2', *args)
    finally:
        rig('route', 'off')
    # The tool fails such a take; here it is the sound server's until every take has one. A stream
    # it stalled for a second shows as the library reopening the device.
    void = re.search(r'dropouts: [1-9]\d*|no capture data for \d+ ms|has gone silent', out.stdout)
    if void:
        return void.group(0)
    latency = re.search(r'round-trip latency: ([\d.]+) ms', out.stdout)
    check(out.returncode == 0 and latency is not None and 0 < float(latency.group(1)) < 1000, 'the round trip',
          'status 0, found, under 1 s', f'status {out.returncode}, {latency and latency.group(1)} ms')
    return None


def tone_file(work, hz, seconds):
    (8000 * np.sin(2 * np.pi * hz * np.arange(seconds * 16000) / 16000)).astype('<i2').tofile(f'{work}/tone{hz}.raw')
    return f'{work}/tone{hz}.raw'


def tones(x, *hz):
    """Which of the tones (whole periods in a second) stand out of x's spectrum."""
    spectrum = np.abs(np.fft.rfft(x[:len(x) // 16000 * 16000].reshape(-1, 16000), axis=1)).sum(axis=0)
    return [f for f in hz if len(x) >= 16000 and spectrum[f] > 20 * np.median(spectrum)]


# The sound server is killed, or its sink and microphone unloaded, for two
# seconds while vocora-host plays 450 Hz and records; once the devices are back
# the microphone is fed 1 kHz and a new vocora-host plays 700 Hz beside the
# old one. Each handle must report the loss once and its return, and carry on
# by itself: the old player heard again, the fed tone in the recording.
def lost(work, exe, how):
    wav, raw = f'{work}/captured.wav', f'{work}/after.raw'
    host = [f'{ROOT}/scripts/wine-run.sh', exe]
    old = [subprocess.Popen(host + args, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
           for args in (['play', '--tone', '450', '--seconds', '10'], ['record', windows(wav), '--seconds', '10'])]
    with stopping(*old):
        time.sleep(3)
        rig('unplug', 'server' if how == 'restart' else 'devices')
        time.sleep(2)
        rig('plug')
        with stopping(rig('feed', tone_file(work, 1000, 30), 16000, 1, until_stopped=True),
                      rig('record', raw, 16000, 1, until_stopped=True)):
            wine(exe, 'play', '--tone', '700', '--seconds', '3')
            said = [p.communicate(timeout=60)[0] for p in old]
    for p, out, gone, back in zip(old, said, ('has gone silent', 'no capture data'), ('plays again', 'captures again')):
        print(out, end='', flush=True)
        check(p.returncode == 0 and out.count(gone) == 1 and out.count(back) == 1, f'{p.args[2]} through the loss',
              'status 0, the loss and the return reported once',
              f'status {p.returncode}, {out.count(gone)} loss(es), {out.count(back)} return(s)')
    heard = tones(np.fromfile(raw, '<i2').astype(float), 450, 700)
    check(heard == [450, 700], 'heard after the loss', 'the old player\'s 450 and the new one\'s 700 Hz', heard)
    with wave.open(wav) as w:
        captured = tones(np.frombuffer(w.readframes(w.getnframes()), '<i2')[-32000:].astype(float), 1000)
    check(captured == [1000], 'captured after the loss', 'the fed 1 kHz', captured)


def main(direction, exe, *args):
    if subprocess.run(['pactl', 'info'], env=ENV, capture_output=True).returncode:
        print(f'RIG BROKEN: the sound server at {ENV["PULSE_SERVER"]} does not answer (run scripts/setup.sh)')
        return 1
    work = tempfile.mkdtemp(prefix=f'e2e-{direction}-', dir=ENV['VOCORA_RIG'])
    try:
        if direction == 'lost':
            lost(work, exe, *args)
        else:
            if direction == 'capture':
                rate, chans = int(args[0]), int(args[1])
                counter(int((float(args[2]) + 4) * rate), chans).tofile(f'{work}/feed.raw')
                rig('microphone', rate, chans)
            elif direction == 'play':
                rig('output', args[1], args[2])
            for take in (1, 2, 3):
                void = {'play': play, 'capture': capture, 'loopback': loopback}[direction](work, take, exe, *args)
                if not void:
                    break
                print(f'VOID take {take}: {void}', flush=True)
            else:
                check(False, 'a take the sound server left whole', 'one of 3', 'a gap in every take')
    finally:
        if direction in ('capture', 'play'):
            rig({'capture': 'microphone', 'play': 'output'}[direction])
    if failed:
        print(f'recordings kept in {work}')
        if args[:1] == ('dsound',):
            print("RIG BROKEN: the platform's own DirectSound is not heard whole through the sound server")
        return 1
    shutil.rmtree(work)
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
