# Draws what a vocora-host loopback run played and captured: waveform and
# spectrogram of each on the capture's time line, the round trip and any
# dropout marked.
#
#   /usr/bin/python3 loopback_report.py PREFIX OUT.png
#
# PREFIX is what `vocora-host loopback --save PREFIX` wrote.
import sys
import wave

import matplotlib
matplotlib.use('Agg')  # no display here
import matplotlib.pyplot as plt
import numpy as np


def samples(path):
    with wave.open(path) as w:
        return np.frombuffer(w.readframes(w.getnframes()), '<i2') / 32768.0


def main(prefix, out):
    facts = {k: v for k, _, v in (line.partition(' ') for line in open(f'{prefix}.txt').read().splitlines())}
    rate, handed, start = int(facts['rate']), int(facts['handed_at']), int(facts['start'])
    dropouts = [int(d) / rate for d in facts['dropouts'].split()]
    captured = samples(f'{prefix}-captured.wav')
    # The played signal where it was handed over, on the capture's time line.
    played = np.zeros_like(captured)
    signal = samples(f'{prefix}-played.wav')[:max(0, len(captured) - handed)]
    played[handed:handed + len(signal)] = signal

    fig, axes = plt.subplots(2, 2, figsize=(14, 7), sharex=True, constrained_layout=True)
    t = np.arange(len(captured)) / rate
    for row, (name, x, colour) in enumerate([('played (handed to Vocora_Play)', played, 'tab:blue'),
                                              ('captured (from the capture callback)', captured, 'tab:green')]):
        axes[row, 0].plot(t, x, lw=0.4, color=colour)
        axes[row, 0].set(ylabel=name, ylim=(-1, 1))
        with np.errstate(divide='ignore'):  # silence has no level
            axes[row, 1].specgram(x, NFFT=256, Fs=rate, noverlap=192, cmap='magma', vmin=-140)
        axes[row, 1].set(ylabel='Hz')
        for ax in axes[row]:
            ax.axvline(handed / rate, color='tab:blue', ls='--', lw=1)
            ax.axvline(start / rate, color='tab:green', ls='--', lw=1)
            for d in dropouts:
                ax.axvspan(d, d + 0.02, color='red', alpha=0.5)
    axes[1, 0].annotate('', xy=(start / rate, 0.85), xytext=(handed / rate, 0.85),
                        arrowprops=dict(arrowstyle='->', color='black'))
    axes[1, 0].text(start / rate + 0.02, 0.8, f'round trip {facts["latency_ms"]} ms', va='top')
    for ax in axes[1]:
        ax.set_xlabel('seconds since capture began')
    verdict = f'{len(dropouts)} dropout(s), marked red' if dropouts else 'no dropouts'
    fig.suptitle(f'vocora loopback through {facts["player"]} at {rate} Hz: round trip {facts["latency_ms"]} ms, {verdict}')
    fig.savefig(out, dpi=100)


if __name__ == '__main__':
    main(*sys.argv[1:])
