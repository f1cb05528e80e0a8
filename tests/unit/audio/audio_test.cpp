// Sounds from WAV files written in the test: metadata and errors without a device, playback
// state and placement on OpenAL Soft's loopback output (deterministic: time only moves when
// the test mixes), and the real null output driver.
#include "platform/audio/audio.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using audio::AudioSystem;
using audio::OpenOptions;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tarnhold-wav-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void Put16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>((value >> 8) & 0xff));
}
void Put32(std::string& out, unsigned value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

// Writes a PCM WAV; `sample(frame, channel)` gives a value in -1..1.
template <typename Generator>
fs::path WriteWav(const fs::path& file, int rate, int bits, int channels, int frames,
                  Generator sample) {
    std::string data;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            const double v = sample(f, c);
            if (bits == 8)
                data.push_back(static_cast<char>(std::lround(128 + 127 * v)));
            else
                Put16(data, static_cast<unsigned>(static_cast<int>(std::lround(32767 * v))));
        }
    std::string wav = "RIFF";
    Put32(wav, static_cast<unsigned>(36 + data.size()));
    wav += "WAVEfmt ";
    Put32(wav, 16);
    Put16(wav, 1); // PCM
    Put16(wav, static_cast<unsigned>(channels));
    Put32(wav, static_cast<unsigned>(rate));
    Put32(wav, static_cast<unsigned>(rate * channels * bits / 8));
    Put16(wav, static_cast<unsigned>(channels * bits / 8));
    Put16(wav, static_cast<unsigned>(bits));
    wav += "data";
    Put32(wav, static_cast<unsigned>(data.size()));
    wav += data;
    std::ofstream(file, std::ios::binary) << wav;
    return file;
}

auto Sine(double hz, int rate) {
    return [=](int frame, int) { return 0.5 * std::sin(2 * M_PI * hz * frame / rate); };
}

// Root mean square of the left (0) or right (1) channel of interleaved stereo samples.
double Rms(const std::vector<std::int16_t>& stereo, int channel) {
    double sum = 0;
    for (std::size_t i = static_cast<std::size_t>(channel); i < stereo.size(); i += 2)
        sum += static_cast<double>(stereo[i]) * stereo[i];
    return std::sqrt(sum / static_cast<double>(stereo.size() / 2));
}

OpenOptions Output(OpenOptions::Output output) {
    OpenOptions options;
    options.output = output;
    return options;
}

} // namespace

TEST(Sound, LoadsWavFormatsWithoutADevice) {
    TempDir temp;
    AudioSystem silent(Output(OpenOptions::Output::None));
    EXPECT_FALSE(silent.IsAudible());
    EXPECT_EQ(silent.DeviceName(), "");

    const auto mono16 = WriteWav(temp.path() / "m16.wav", 22050, 16, 1, 5512, Sine(440, 22050));
    audio::SoundLoad load = silent.LoadSound(mono16, true);
    ASSERT_TRUE(load) << load.error;
    audio::Sound& shot = *load.sound;
    EXPECT_TRUE(shot.Is3D());
    EXPECT_EQ(shot.SampleRate(), 22050);
    EXPECT_EQ(shot.Channels(), 1);
    EXPECT_EQ(shot.BitsPerSample(), 16);
    EXPECT_EQ(shot.FrameCount(), 5512u);
    EXPECT_NEAR(shot.DurationSeconds(), 0.25, 0.001);
    // Every playback call is harmless and reports silence.
    shot.SetPosition({1, 2, 3});
    shot.SetVelocity({0, 0, 1});
    shot.Play(true);
    EXPECT_TRUE(shot.IsLooping());
    EXPECT_FALSE(shot.IsPlaying());
    shot.Rewind();
    shot.Stop();
    EXPECT_EQ(shot.PositionFrames(), 0u);
    silent.SetListenerPosition({1, 1, 1});
    silent.SetListenerOrientation({0, 0, 1}, {0, 1, 0});
    silent.SetDopplerFactor(1);
    silent.SetDistanceFactor(0.01f);
    silent.SetRolloffFactor(0.1f);
    EXPECT_TRUE(silent.RenderLoopback(100).empty());

    // Stereo stays stereo for a plain sound and becomes mono for a 3D one.
    const auto stereo8 = WriteWav(temp.path() / "s8.wav", 11025, 8, 2, 1000, Sine(200, 11025));
    const audio::SoundLoad flat = silent.LoadSound(stereo8, false);
    ASSERT_TRUE(flat) << flat.error;
    EXPECT_EQ(flat.sound->Channels(), 2);
    EXPECT_EQ(flat.sound->BitsPerSample(), 8);
    EXPECT_EQ(flat.sound->FrameCount(), 1000u);
    const audio::SoundLoad placed = silent.LoadSound(stereo8, true);
    ASSERT_TRUE(placed) << placed.error;
    EXPECT_EQ(placed.sound->Channels(), 1);
    EXPECT_EQ(placed.sound->FrameCount(), 1000u);
    EXPECT_EQ(placed.sound->SampleRate(), 11025);
}

TEST(Sound, UnreadableFilesAreClearErrors) {
    TempDir temp;
    AudioSystem silent(Output(OpenOptions::Output::None));
    const audio::SoundLoad missing = silent.LoadSound(temp.path() / "nothing.wav", true);
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.error.find("nothing.wav"), std::string::npos) << missing.error;

    std::ofstream(temp.path() / "junk.wav", std::ios::binary) << "RIFF\x10\0\0\0WAVEjunkjunk";
    const audio::SoundLoad junk = silent.LoadSound(temp.path() / "junk.wav", false);
    EXPECT_FALSE(junk);
    EXPECT_NE(junk.error.find("junk.wav"), std::string::npos) << junk.error;

    const auto good = WriteWav(temp.path() / "good.wav", 8000, 16, 1, 800, Sine(300, 8000));
    std::ifstream in(good, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(temp.path() / "cut.wav", std::ios::binary) << bytes.substr(0, 30);
    EXPECT_FALSE(silent.LoadSound(temp.path() / "cut.wav", false));
}

TEST(Sound, PlaybackStateFollowsPlayStopRewindAndTheEnd) {
    TempDir temp;
    AudioSystem system(Output(OpenOptions::Output::Loopback));
    ASSERT_TRUE(system.IsAudible()) << "OpenAL Soft's loopback device is needed";
    const auto wav = WriteWav(temp.path() / "beep.wav", 44100, 16, 1, 4410, Sine(440, 44100));
    audio::SoundLoad load = system.LoadSound(wav, false);
    ASSERT_TRUE(load) << load.error;
    audio::Sound& beep = *load.sound;

    EXPECT_FALSE(beep.IsPlaying());
    beep.Play(false);
    EXPECT_TRUE(beep.IsPlaying());
    system.RenderLoopback(2000);
    EXPECT_TRUE(beep.IsPlaying());
    EXPECT_GT(beep.PositionFrames(), 1000u);
    system.RenderLoopback(5000); // past the end of a sound played once
    EXPECT_FALSE(beep.IsPlaying());

    beep.Play(true);
    system.RenderLoopback(10000); // a looping sound goes on
    EXPECT_TRUE(beep.IsPlaying());
    EXPECT_TRUE(beep.IsLooping());
    beep.Stop();
    EXPECT_FALSE(beep.IsPlaying());
    const std::size_t stoppedAt = beep.PositionFrames();
    EXPECT_GT(stoppedAt, 0u);
    system.RenderLoopback(1000);
    EXPECT_EQ(beep.PositionFrames(), stoppedAt); // a stopped sound keeps its place

    beep.Play(true);
    system.RenderLoopback(1000);
    EXPECT_TRUE(beep.IsPlaying());
    beep.Rewind(); // while playing: from the start, still playing
    EXPECT_TRUE(beep.IsPlaying());
    EXPECT_LT(beep.PositionFrames(), 600u);
    beep.Stop();
    beep.Rewind(); // while stopped: the next play starts at 0
    beep.Play(false);
    EXPECT_LT(beep.PositionFrames(), 600u);
}

TEST(Sound, PlacementFollowsTheLeftHandedSceneAndRolloff) {
    TempDir temp;
    AudioSystem system(Output(OpenOptions::Output::Loopback));
    ASSERT_TRUE(system.IsAudible());
    const auto wav = WriteWav(temp.path() / "hum.wav", 44100, 16, 1, 44100, Sine(300, 44100));
    audio::SoundLoad load = system.LoadSound(wav, true);
    ASSERT_TRUE(load) << load.error;
    audio::Sound& hum = *load.sound;
    hum.Play(true);

    auto loudness = [&](glm::vec3 where) {
        hum.SetPosition(where);
        system.RenderLoopback(4096); // let the mixer settle on the new place
        const std::vector<std::int16_t> out = system.RenderLoopback(8192);
        return std::pair{Rms(out, 0), Rms(out, 1)};
    };
    system.SetRolloffFactor(0);
    // Facing +z with y up, +x is on the right.
    const auto [rightL, rightR] = loudness({5, 0, 0});
    EXPECT_GT(rightR, 2 * rightL);
    const auto [leftL, leftR] = loudness({-5, 0, 0});
    EXPECT_GT(leftL, 2 * leftR);
    // Turned to face +x, -z is on the right.
    system.SetListenerOrientation({1, 0, 0}, {0, 1, 0});
    const auto [turnedL, turnedR] = loudness({0, 0, -5});
    EXPECT_GT(turnedR, 2 * turnedL);

    // Rolloff: at 10 units with factor 1 the gain is 1 / (1 + 9).
    system.SetListenerOrientation({0, 0, 1}, {0, 1, 0});
    const auto [nearL, nearR] = loudness({0, 0, 10});
    system.SetRolloffFactor(1);
    const auto [farL, farR] = loudness({0, 0, 10});
    EXPECT_NEAR((farL + farR) / (nearL + nearR), 0.1, 0.03);

    // A 3D sound made from stereo is the mean of its channels: opposite channels cancel.
    const auto opposite =
        WriteWav(temp.path() / "opposite.wav", 44100, 16, 2, 44100, [](int f, int c) {
            const double v = 0.5 * std::sin(2 * M_PI * 300 * f / 44100);
            return c == 0 ? v : -v;
        });
    hum.Stop();
    audio::SoundLoad cancelled = system.LoadSound(opposite, true);
    ASSERT_TRUE(cancelled) << cancelled.error;
    cancelled.sound->Play(true);
    EXPECT_TRUE(cancelled.sound->IsPlaying());
    system.RenderLoopback(4096); // past the fade-out of the stopped hum
    const std::vector<std::int16_t> out = system.RenderLoopback(8192);
    EXPECT_LT(Rms(out, 0) + Rms(out, 1), 2.0);
}

TEST(AudioSystem, SilentWhenAskedOrWhenNoDeviceOpens) {
    // Each check runs in a child process: OpenAL Soft reads its drivers once per process.
    EXPECT_EXIT(
        {
            setenv("TARNHOLD_NO_AUDIO", "1", 1);
            setenv("ALSOFT_DRIVERS", "null", 1);
            AudioSystem system;
            std::exit(system.IsAudible() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("ALSOFT_DRIVERS", "no-such-driver", 1);
            AudioSystem system;
            std::exit(system.IsAudible() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(AudioSystem, NullOutputDriverPlaysInRealTime) {
    TempDir temp;
    const auto wav = WriteWav(temp.path() / "click.wav", 22050, 8, 1, 1100, Sine(500, 22050));
    EXPECT_EXIT(
        {
            setenv("ALSOFT_DRIVERS", "null", 1);
            AudioSystem system;
            if (!system.IsAudible()) std::exit(2);
            audio::SoundLoad load = system.LoadSound(wav, true);
            if (!load) std::exit(3);
            audio::Sound& click = *load.sound; // 50 ms
            click.Play(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            if (!click.IsPlaying()) std::exit(4); // looping outlasts the sound
            click.Play(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (click.IsPlaying()) std::exit(5); // once: it ends by itself
            click.Play(true);
            click.Stop();
            if (click.IsPlaying()) std::exit(6);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}
