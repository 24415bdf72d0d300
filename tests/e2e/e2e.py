# Drives one end-to-end sound case through the rig and judges it:
#
#   e2e.py play PROGRAM MODE RATE CHANNELS [--fault drop|repeat|zero N]
#       PROGRAM is vocora-host for the modes directsound, waveout and fallback (DSOUND.DLL not loaded), rig_probe for dsound (the rig's check)
#   e2e.py capture VOCORA_HOST RATE CHANNELS SECONDS AEC DATALEN [--fault ...]
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
# spoiled proves nothing and is taken again, up to five times. --fault drops,
# repeats or zeroes block N of the signal (or of the recording) on purpose, to
# show that the judging catches it.
import contextlib, os, re, shutil, subprocess, sys, tempfile, time, wave  # noqa: E401
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ENV = dict(kv.split('=', 1) for kv in subprocess.run(['bash', '-c', f'set -a; . {ROOT}/scripts/rig_env.sh; env -0'],
                                                     check=True, capture_output=True, text=True).stdout.split('\0') if '=' in kv)
RIG, WINE = ['bash', f'{ROOT}/scripts/rig.sh'], [f'{ROOT}/scripts/wine-run.sh']
failed = []


def check(ok, what, expected, measured):
    failed.extend([] if ok else [what])
    print(f"{'ok  ' if ok else 'FAIL'} {what}: expected {expected}, measured {measured}", flush=True)
    return ok


def wine(*args, env=ENV):
    out = subprocess.run(WINE + [*map(str, args)], env=env, capture_output=True, text=True, timeout=60)
    print(out.stdout + out.stderr, end='', flush=True)
    return out


def rig(*args):
    subprocess.run(RIG + [*map(str, args)], env=ENV, check=True)


# Runs the body while the commands run; then SIGTERM and wait, so that parec writes out what it holds.
@contextlib.contextmanager
def running(*cmds, **kw):
    procs = [subprocess.Popen([*map(str, cmd)], env=ENV, **kw) for cmd in cmds]
    try:
        yield procs
    finally:
        for p in procs:
            p.terminate(), p.wait()


def pcm(path, kind='<u2'):
    with wave.open(path) as w:
        return np.frombuffer(w.readframes(w.getnframes()), kind).reshape(-1, w.getnchannels())


# Each channel counts frames from 1 on, the second offset by 0x4000.
def counter(frames, chans):
    return ((1 + np.arange(frames)[:, None] + 0x4000 * np.arange(chans)) & 0xffff).astype('<u2')


def damage(x, b, fault):  # fault: () or ('--fault', KIND, N), N counted in blocks of b frames
    n = int(fault[2]) * b if fault else 0
    return np.r_[x[:n], {'drop': x[:0], 'repeat': np.r_[x[n:n + b], x[n:n + b]], 'zero': 0 * x[n:n + b]}[fault[1]],
                 x[n + b:]] if fault else x


# Runs up to five takes while each is void: spoiled by the sound server (take(rec) says why). A
# waveOut stream at 44.1 kHz stereo runs dry in about one take of four here.
def takes(work, take):
    for n in range(1, 6):
        if not (void := take(f'{work}/take{n}.wav')):
            return
        print(f'VOID take {n}: {void}', flush=True)
    check(False, 'a take the sound server left whole', 'one of 5', 'a gap in every take')


# One take of the counter: the rig's recorder or feeder (source) runs around
# the program cmd, which must report the player want (if any); then the
# recording rec, silence trimmed at both ends, must be one unbroken run of the
# counter, whose (frames, first value) whole(run) judges. A break of the
# library's fails; returns why the take is void when the sound server dropped out.
def counted(rec, source, wait, block, fault, want, whole, *cmd, env=ENV):
    with running(RIG + source):
        time.sleep(wait)
        out = wine(*cmd, env=env)
        time.sleep(0.5)
    if not check(out.returncode == 0, 'the program', 'status 0', out.returncode):
        return None
    if want:
        player = re.search(r'^player: (\w+)', out.stdout, re.M)
        check(player and player.group(1) == want, 'the player', want, player and player.group(1))
    got = damage(pcm(rec), block, fault)
    loud = np.flatnonzero(got.any(axis=1))
    if not check(len(loud) > 0, 'the counter came through', 'sound', f'{len(loud)} frames of sound'):
        return None
    got = got[loud[0]:loud[-1] + 1].astype(np.int64)
    ideal = (counter(len(got), got.shape[1]).astype(np.int64) + got[0, 0] - 1) & 0xffff
    bad = np.flatnonzero((got != ideal).any(axis=1))
    if not len(bad):
        check(*whole((len(got), int(got[0, 0]))))
        return None
    at = bad[0]
    zeros = int(np.argmax(got[at:].any(axis=1)))
    jump = (int(got[at + zeros, 0]) - int(ideal[at, 0]) + 0x8000) % 0x10000 - 0x8000
    if (zeros and jump == 0) or (not zeros and jump > 0 and jump % block):
        return f'at frame {at} {zeros} frames of silence, then the counter moves on by {jump}'
    check(False, 'the counter unbroken', 'nothing lost, repeated or zeroed',
          f'at frame {at} {zeros} frames of zeros, then a jump of {jump} frames ({jump / block:+.2f} blocks)')


def play(work, exe, mode, rate, chans, *fault):
    rate, chans, signal = int(rate), int(chans), f'{work}/signal.wav'
    x = damage(counter(3 * rate, chans), rate // 50, fault)
    with wave.open(signal, 'wb') as w:
        w.setnchannels(chans), w.setsampwidth(2), w.setframerate(rate), w.writeframes(x.tobytes())
    cmd = [exe, 'dsound' if mode == 'dsound' else 'play', 'Z:' + signal] + ['--waveout'] * (mode == 'waveout')
    # Wine asks the sound server for some 50 ms of queue, which a shared machine that stalls for longer runs
    # dry (a void take); 200 ms rides that out. Not for the microphone: there it sets the fragment as well.
    env = dict(ENV, PULSE_LATENCY_MSEC='200', WINEDLLOVERRIDES='dsound=d;' * (mode == 'fallback') + ENV['WINEDLLOVERRIDES'])
    want = None if mode == 'dsound' else 'DirectSound' if mode == 'directsound' else 'waveOut'
    rig('output', rate, chans)
    takes(work, lambda rec: counted(rec, ['record', rec, rate, chans], 0.5, rate // 50, (), want, lambda run: (
        run == (len(x), 1), 'every frame heard once, in order', f'{len(x)} frames from 1', f'{run[0]} frames from {run[1]}'),
        *cmd, env=env))


def capture(work, exe, rate, chans, seconds, aec, datalen, *fault):
    rate, chans, datalen, least = int(rate), int(chans), int(datalen), float(seconds) - 1
    counter(int((least + 5) * rate), chans).tofile(f'{work}/feed.raw')
    # The library's block: 2 x channels x the smallest power of two of frames at least rate / 1000 x 46.
    block = datalen // 2 // chans or 1 << (rate // 1000 * 46 - 1).bit_length()
    rig('microphone', rate, chans)
    # The feed runs for 1.5 s first: capture notifications are late until it has run for a moment.
    takes(work, lambda rec: counted(rec, ['feed', f'{work}/feed.raw', rate, chans], 1.5, block, fault, None, lambda run: (
        run[0] >= least * rate, 'the fed counter captured unbroken', f'{least} s or more', f'{run[0] / rate:.2f} s'),
        exe, 'record', 'Z:' + rec, '--seconds', seconds, '--rate', rate, '--channels', chans, '--block', datalen,
        *['--aec'] * (aec == '1')))


# Which of the tones hz (whole periods in a second) stand out of the recording's spectrum: all of them must.
def tones(what, expected, x, *hz):
    x = x.ravel()[:x.size // 16000 * 16000].astype(float)
    spectrum = np.abs(np.fft.rfft(x.reshape(-1, 16000), axis=1)).sum(axis=0)
    found = [f for f in hz if len(x) >= 16000 and spectrum[f] > 20 * np.median(spectrum)]
    check(found == list(hz), what, expected, found)


# The sound server is killed, or its sink and microphone unloaded, for two
# seconds while vocora-host plays 450 Hz and records; once the devices are back
# the microphone is fed 1 kHz and a new vocora-host plays 700 Hz beside the
# old one. Each handle must report each loss once with its return, and carry on
# by itself: the old player heard again, the fed tone in the recording.
def lost(work, exe, how):
    wav, after, tone = f'{work}/captured.wav', f'{work}/after.wav', f'{work}/tone1000.raw'
    (8000 * np.sin(2 * np.pi * 1000 * np.arange(30 * 16000) / 16000)).astype('<i2').tofile(tone)
    with running(WINE + [exe, 'play', '--tone', 450, '--seconds', 10], WINE + [exe, 'record', 'Z:' + wav, '--seconds', 10],
                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True) as old:
        time.sleep(3)
        rig('unplug', 'server' if how == 'restart' else 'devices')
        time.sleep(2)
        rig('plug')
        with running(RIG + ['feed', tone, 16000, 1], RIG + ['record', after, 16000, 1]):
            check((new := wine(exe, 'play', '--tone', 700, '--seconds', 3).returncode) == 0, 'the program', 'status 0', new)
            said = [p.communicate(timeout=60)[0] for p in old]
    for p, out, gone, back in zip(old, said, ('has gone silent', 'no capture data'), ('plays again', 'captures again')):
        print(out, end='', flush=True)
        # A sound server coming back can stall a stream once more as it settles: each stall is reported
        # once, with its return.
        check(p.returncode == 0 and 1 <= out.count(gone) == out.count(back) <= 2, f'{p.args[2]} through the loss',
              'status 0, each loss (one, or two as the server settles) reported once with its return',
              f'status {p.returncode}, {out.count(gone)} loss(es), {out.count(back)} return(s)')
    tones('heard after the loss', "the old player's 450 and the new one's 700 Hz", pcm(after, '<i2'), 450, 700)
    tones('captured after the loss', 'the fed 1 kHz', pcm(wav, '<i2')[-32000:], 1000)


def main(direction, exe, *args):
    if subprocess.run(['pactl', 'info'], env=ENV, capture_output=True).returncode:
        print(f'RIG BROKEN: the sound server at {ENV["PULSE_SERVER"]} does not answer (run scripts/setup.sh)')
        return 1
    work = tempfile.mkdtemp(prefix=f'e2e-{direction}-', dir=ENV['VOCORA_RIG'])
    try:
        {'play': play, 'capture': capture, 'lost': lost}[direction](work, exe, *args)
    finally:  # the rig's devices as they were
        rig(*{'play': ['output'], 'capture': ['microphone']}.get(direction, ['plug']))
    if failed:
        print(f'recordings kept in {work}')
        if args[:1] == ('dsound',):
            print("RIG BROKEN: the platform's own DirectSound is not heard whole through the sound server")
        return 1
    shutil.rmtree(work)
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
