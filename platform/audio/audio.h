// platform/audio/audio.h — positional sound over OpenAL.
//
// Index
//   1. AudioSystem: the device, its context and the one listener.
//   2. Sound: a buffer loaded from a .wav file with its own voice, placed in 3D or not.
//
// Coordinates are the scene's: left-handed, y up, +z forward, in scene units (the listener's
// distance factor says how many metres one unit is). Without a device (none present, opening
// failed, or silence asked for) everything still works and is silent: sounds load, so bad
// files are still reported, and every playback call does nothing. No call here throws; the
// per-frame calls (positions, velocities, play, stop) allocate nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <glm/vec3.hpp>
#include <memory>
#include <string>
#include <vector>

namespace audio {

namespace detail {
struct Core; // device and context, shared by the system and its sounds
}

class Sound;

// How AudioSystem opens its output.
struct OpenOptions {
    enum class Output {
        Default,  // the named device, else the system's default; silent if it cannot open
        None,     // no device: silent
        Loopback, // OpenAL Soft's loopback device: output is pulled with RenderLoopback
    };
    Output output = Output::Default;
    std::string deviceName; // "" = the default device
};

// The outcome of loading a sound: a sound, or an error naming the file.
struct SoundLoad {
    std::unique_ptr<Sound> sound;
    std::string error;
    explicit operator bool() const { return sound != nullptr; }
};

// ---------------------------------------------------------------------------------------------
// 1. AudioSystem
// ---------------------------------------------------------------------------------------------

// One output device with its listener. Opening never fails: when no device can be opened the
// system is silent. Setting the environment variable TARNHOLD_NO_AUDIO to anything but "" or
// "0" makes every system silent (headless runs). Sounds may outlive their system.
class AudioSystem {
public:
    explicit AudioSystem(const OpenOptions& options = {});
    ~AudioSystem();
    AudioSystem(const AudioSystem&) = delete;
    AudioSystem& operator=(const AudioSystem&) = delete;

    // True when a device is open and sound is produced.
    bool IsAudible() const;
    // The open device's name; "" when silent.
    std::string DeviceName() const;

    // The listener, in scene coordinates. Orientation: `front` is where the listener looks,
    // `top` its up direction (neither needs unit length; they must not be parallel).
    void SetListenerPosition(glm::vec3 position);
    void SetListenerVelocity(glm::vec3 unitsPerSecond);
    void SetListenerOrientation(glm::vec3 front, glm::vec3 top);
    // Doppler exaggeration, 0 (none) .. 10; 1 is natural.
    void SetDopplerFactor(float factor);
    // Metres per scene unit (> 0); sets the speed of sound in scene units.
    void SetDistanceFactor(float metresPerUnit);
    // Distance attenuation of every 3D sound (>= 0): gain = 1 / (1 + rolloff * (d - 1)) for
    // d >= 1 unit; 0 = no attenuation.
    void SetRolloffFactor(float factor);

    // Loads a .wav file (8 or 16-bit integer, or any format SDL reads, converted to 16-bit).
    // A 3D sound is mixed down to one channel, since only mono sounds can be placed; a plain
    // sound keeps mono or stereo. Works on a silent system too.
    SoundLoad LoadSound(const std::filesystem::path& wavFile, bool is3d);

    // Loopback output only: mixes `frames` frames of 16-bit stereo at 44100 Hz and returns
    // them interleaved (left, right). Empty for other outputs.
    std::vector<std::int16_t> RenderLoopback(std::size_t frames);

private:
    std::shared_ptr<detail::Core> core_;
};

// ---------------------------------------------------------------------------------------------
// 2. Sound
// ---------------------------------------------------------------------------------------------

// A loaded sound and its voice. A 3D sound is heard from its position relative to the
// listener; a plain sound is heard as recorded. On a silent system playback calls do nothing
// and IsPlaying is false.
class Sound {
public:
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    bool Is3D() const { return is3d_; }
    int SampleRate() const { return sampleRate_; }         // frames per second
    int Channels() const { return channels_; }             // as stored: 1 for 3D sounds
    int BitsPerSample() const { return bitsPerSample_; }   // 8 or 16
    std::size_t FrameCount() const { return frameCount_; } // samples per channel
    double DurationSeconds() const;

    // 3D sounds only (ignored by plain sounds): where the sound is and how it moves.
    void SetPosition(glm::vec3 position);
    void SetVelocity(glm::vec3 unitsPerSecond);

    // Starts playing from the current play position (from the start after it ended or was
    // rewound), once or looping. Playing an already playing sound only changes looping.
    void Play(bool looping);
    // Stops; the play position stays where it was.
    void Stop();
    // Moves the play position to the start; a playing sound keeps playing from there.
    void Rewind();
    bool IsPlaying() const;
    bool IsLooping() const { return looping_; }
    // The play position in frames (0 on a silent system).
    std::size_t PositionFrames() const;

private:
    friend class AudioSystem;
    Sound() = default;

    std::shared_ptr<detail::Core> core_;
    unsigned int buffer_ = 0; // OpenAL buffer name, 0 when silent
    unsigned int source_ = 0; // OpenAL source name, 0 when silent
    bool is3d_ = false;
    bool looping_ = false;
    int sampleRate_ = 0;
    int channels_ = 0;
    int bitsPerSample_ = 0;
    std::size_t frameCount_ = 0;
};

} // namespace audio
