// vocora-host: a small media host around vocora.dll. Every message the
// library logs is printed, formatted, as it arrives.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "commands.h"

namespace {

// One line for any mistake on the command line, and where to read more.
std::string OneLine(const CLI::App* poApp, const CLI::Error& oError)
{
    std::string strCommand = poApp->get_name();
    for (const CLI::App* poSub : poApp->get_subcommands()) {
        strCommand += " " + poSub->get_name();
    }
    return strCommand + ": " + oError.what() + " (see " + strCommand + " --help)\n";
}

void AddRate(CLI::App* poCommand, uint32_t& ulRate)
{
    poCommand->add_option("--rate", ulRate, "sample rate in Hz")->check(CLI::Range(8000u, 192000u))->capture_default_str();
}

void AddVolume(CLI::App* poCommand, int& iVolume)
{
    poCommand->add_option("--volume", iVolume,
                          "0..255; default: unity (255 on DirectSound; 128 on waveOut, whose gain goes in bands of 36 "
                          "with 109..144 unchanged)")
        ->check(CLI::Range(0, 255));
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App oApp{"A media host around vocora.dll: every library message is printed as it arrives.", "vocora-host"};
    oApp.set_version_flag("--version", std::string(VOCORA_VERSION));
    oApp.require_subcommand(0, 1);
    // "/path/file.wav" is a file (under Wine too), not an option.
    oApp.allow_windows_style_options(false);
    oApp.failure_message(OneLine);

    CLI::App* poInfo = oApp.add_subcommand("info", "initialise, report which player and capture device handles get, clean up");

    PlayOptions stPlay;
    CLI::App* poPlay = oApp.add_subcommand("play", "play a 16-bit PCM WAV file, or a -6 dBFS tone, in real time");
    CLI::Option* poFile = poPlay->add_option("file", stPlay.strFile, "16-bit PCM WAV file")->check(CLI::ExistingFile);
    CLI::Option* poTone = poPlay->add_option("--tone", stPlay.dToneHz, "tone frequency in Hz")->check(CLI::PositiveNumber);
    CLI::Option* poSeconds =
        poPlay->add_option("--seconds", stPlay.dSeconds, "tone duration")->check(CLI::Range(0.001, 3600.0));
    CLI::Option* poRate = poPlay->add_option("--rate", stPlay.ulSampleRate, "tone sample rate in Hz")
                              ->check(CLI::Range(8000u, 192000u))
                              ->capture_default_str();
    CLI::Option* poChannels = poPlay->add_option("--channels", stPlay.ulChannels, "tone channels")->check(CLI::Range(1u, 2u));
    poTone->needs(poSeconds)->excludes(poFile);
    poSeconds->needs(poTone);
    poRate->needs(poTone);
    poChannels->needs(poTone);
    AddVolume(poPlay, stPlay.iVolume);
    poPlay->add_option("--block", stPlay.ulBlockBytes, "bytes per Vocora_Play (default 20 ms)")->check(CLI::Range(1u, 4u << 20));
    poPlay->add_flag("--waveout", stPlay.bWaveOut, "make the library use its waveOut player");

    RecordOptions stRecord;
    CLI::App* poRecord = oApp.add_subcommand("record", "capture the default microphone into a 16-bit PCM WAV file");
    poRecord->add_option("file", stRecord.strFile, "WAV file to write (replaced)")->required();
    poRecord->add_option("--seconds", stRecord.dSeconds, "how long")->required()->check(CLI::Range(0.001, 86400.0));
    AddRate(poRecord, stRecord.ulSampleRate);
    poRecord->add_option("--channels", stRecord.ulChannels, "channels")->check(CLI::Range(1u, 2u))->capture_default_str();
    poRecord->add_option("--block", stRecord.ulBlockBytes, "bytes per callback (0: the library's default)")
        ->check(CLI::Range(0u, 4u << 20));
    poRecord->add_flag("--aec", stRecord.bAec, "ask for echo cancellation (selector 0)");

    int iMicVolume = -1;
    CLI::App* poMic = oApp.add_subcommand("mic-volume", "read, or set and read back, the system microphone level");
    poMic->add_option("--set", iMicVolume, "level 0..255")->check(CLI::Range(0, 255));

    LoopbackOptions stLoopback;
    CLI::App* poLoopback = oApp.add_subcommand(
        "loopback", "play a test signal while capturing it back: round-trip latency, dropouts and level");
    poLoopback->add_option("--seconds", stLoopback.dSeconds, "signal duration")->check(CLI::Range(0.5, 600.0))->capture_default_str();
    AddRate(poLoopback, stLoopback.ulSampleRate);
    AddVolume(poLoopback, stLoopback.iVolume);
    poLoopback->add_flag("--waveout", stLoopback.bWaveOut, "play through the library's waveOut player");
    poLoopback->add_option("--save", stLoopback.strSave, "write PREFIX-played.wav, PREFIX-captured.wav and PREFIX.txt");

    try {
        oApp.parse(argc, argv);
    } catch (const CLI::ParseError& oError) {
        return oApp.exit(oError) == 0 ? 0 : 2;  // --help and --version are no mistake
    }
    if (oApp.get_subcommands().empty()) {
        std::fprintf(stderr, "vocora-host: a command is needed (see vocora-host --help)\n");
        return 2;
    }
    if (poInfo->parsed()) {
        return RunInfo();
    }
    if (poPlay->parsed()) {
        if (stPlay.strFile.empty() && poTone->count() == 0) {
            std::fprintf(stderr, "vocora-host play: give a WAV file, or --tone HZ --seconds S (see vocora-host play --help)\n");
            return 2;
        }
        return RunPlay(stPlay);
    }
    if (poRecord->parsed()) {
        return RunRecord(stRecord);
    }
    if (poMic->parsed()) {
        return RunMicVolume(iMicVolume);
    }
    return RunLoopback(stLoopback);
}
