// platform/audio/audio.cpp — OpenAL device, listener and sounds.
//
// Index
//   1. Core: device and context, made current before each group of calls
//   2. AudioSystem: opening, listener
//   3. WAV loading: read, convert to 8/16-bit, mix down
//   4. Sound
#include "platform/audio/audio.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <SDL.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace audio {

// ---------------------------------------------------------------------------------------------
// 1. Core
// ---------------------------------------------------------------------------------------------

namespace detail {

struct Core {
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    LPALCRENDERSAMPLESSOFT renderSamples = nullptr; // loopback output only
    float rolloff = 1.0f;                           // applied to every 3D source
    std::vector<ALuint> sources3d;                  // live 3D sources, for rolloff changes

    // Makes this context current; false when silent.
    bool Bind() const {
        if (!context) return false;
        if (alcGetCurrentContext() != context) alcMakeContextCurrent(context);
        return true;
    }

    ~Core() {
        if (context) {
            if (alcGetCurrentContext() == context) alcMakeContextCurrent(nullptr);
            alcDestroyContext(context);
        }
        if (device) alcCloseDevice(device);
    }
};

} // namespace detail

namespace {

constexpr ALCint kLoopbackRate = 44100;
constexpr std::size_t kMaxPcmBytes = 64u * 1024u * 1024u; // a larger sound is refused

// The scene is left-handed, OpenAL right-handed: mirroring z maps one onto the other and
// keeps left on the left.
void ToAl(glm::vec3 v, ALfloat out[3]) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = -v.z;
}

bool Finite(glm::vec3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool SilenceRequested() {
    const char* value = std::getenv("TARNHOLD_NO_AUDIO");
    return value && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

// Opens the loopback device of OpenAL Soft with a 16-bit stereo context.
void OpenLoopback(detail::Core& core) {
    if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) return;
    auto openLoopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
        alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
    auto render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(
        alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    if (!openLoopback || !render) return;
    core.device = openLoopback(nullptr);
    if (!core.device) return;
    const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT,
                                 ALC_STEREO_SOFT,
                                 ALC_FORMAT_TYPE_SOFT,
                                 ALC_SHORT_SOFT,
                                 ALC_FREQUENCY,
                                 kLoopbackRate,
                                 ALC_HRTF_SOFT,
                                 ALC_FALSE,
                                 0};
    core.context = alcCreateContext(core.device, attributes);
    if (core.context) core.renderSamples = render;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// 2. AudioSystem
// ---------------------------------------------------------------------------------------------

AudioSystem::AudioSystem(const OpenOptions& options) : core_(std::make_shared<detail::Core>()) {
    detail::Core& core = *core_;
    if (options.output == OpenOptions::Output::None || SilenceRequested()) return;
    if (options.output == OpenOptions::Output::Loopback) {
        OpenLoopback(core);
    } else {
        core.device =
            alcOpenDevice(options.deviceName.empty() ? nullptr : options.deviceName.c_str());
        if (core.device) core.context = alcCreateContext(core.device, nullptr);
    }
    if (!core.context) {
        if (core.device) alcCloseDevice(core.device);
        core.device = nullptr;
        return;
    }
    core.Bind();
    alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
    SetListenerPosition({0, 0, 0});
    SetListenerVelocity({0, 0, 0});
    SetListenerOrientation({0, 0, 1}, {0, 1, 0});
}

AudioSystem::~AudioSystem() = default;

bool AudioSystem::IsAudible() const {
    return core_->context != nullptr;
}

std::string AudioSystem::DeviceName() const {
    if (!core_->device) return "";
    const ALCchar* name = alcGetString(core_->device, ALC_DEVICE_SPECIFIER);
    return name ? name : "";
}

void AudioSystem::SetListenerPosition(glm::vec3 position) {
    if (!Finite(position) || !core_->Bind()) return;
    ALfloat v[3];
    ToAl(position, v);
    alListenerfv(AL_POSITION, v);
}

void AudioSystem::SetListenerVelocity(glm::vec3 unitsPerSecond) {
    if (!Finite(unitsPerSecond) || !core_->Bind()) return;
    ALfloat v[3];
    ToAl(unitsPerSecond, v);
    alListenerfv(AL_VELOCITY, v);
}

void AudioSystem::SetListenerOrientation(glm::vec3 front, glm::vec3 top) {
    if (!Finite(front) || !Finite(top) || !core_->Bind()) return;
    ALfloat v[6];
    ToAl(front, v);
    ToAl(top, v + 3);
    alListenerfv(AL_ORIENTATION, v);
}

void AudioSystem::SetDopplerFactor(float factor) {
    if (!std::isfinite(factor) || factor < 0 || !core_->Bind()) return;
    alDopplerFactor(factor);
}

void AudioSystem::SetDistanceFactor(float metresPerUnit) {
    if (!std::isfinite(metresPerUnit) || metresPerUnit <= 0 || !core_->Bind()) return;
    alSpeedOfSound(343.3f / metresPerUnit);
}

void AudioSystem::SetRolloffFactor(float factor) {
    if (!std::isfinite(factor) || factor < 0) return;
    core_->rolloff = factor;
    if (!core_->Bind()) return;
    for (ALuint source : core_->sources3d)
        alSourcef(source, AL_ROLLOFF_FACTOR, factor);
}

std::vector<std::int16_t> AudioSystem::RenderLoopback(std::size_t frames) {
    std::vector<std::int16_t> samples;
    if (!core_->renderSamples || !core_->Bind()) return samples;
    samples.resize(frames * 2);
    core_->renderSamples(core_->device, samples.data(), static_cast<ALCsizei>(frames));
    return samples;
}

// ---------------------------------------------------------------------------------------------
// 3. WAV loading
// ---------------------------------------------------------------------------------------------

namespace {

// PCM ready for a buffer: 8-bit unsigned or 16-bit signed native-endian, interleaved.
struct Pcm {
    std::vector<std::uint8_t> bytes;
    int rate = 0;
    int channels = 0;
    int bits = 0;
};

// Reads the file with SDL; anything not 8-bit unsigned or 16-bit native is converted to
// 16-bit. Returns an error text, or "" on success.
std::string ReadWav(const std::filesystem::path& file, Pcm& pcm) {
    SDL_AudioSpec spec{};
    Uint8* data = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV(file.c_str(), &spec, &data, &length))
        return "cannot read sound \"" + file.string() + "\": " + SDL_GetError();
    std::unique_ptr<Uint8, void (*)(Uint8*)> owned(data, [](Uint8* p) { SDL_FreeWAV(p); });
    if (spec.channels < 1 || spec.freq <= 0)
        return "cannot read sound \"" + file.string() + "\": no channels or rate";
    pcm.rate = spec.freq;
    pcm.channels = spec.channels;
    if (spec.format == AUDIO_U8 || spec.format == AUDIO_S16SYS) {
        if (length > kMaxPcmBytes) return "sound \"" + file.string() + "\" is too long";
        pcm.bits = spec.format == AUDIO_U8 ? 8 : 16;
        pcm.bytes.assign(data, data + length);
        return "";
    }
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, spec.channels,
                          spec.freq) < 0)
        return "cannot convert sound \"" + file.string() + "\": " + SDL_GetError();
    const std::size_t capacity = static_cast<std::size_t>(length) * std::max(cvt.len_mult, 1);
    if (capacity > kMaxPcmBytes) return "sound \"" + file.string() + "\" is too long";
    pcm.bytes.assign(capacity, 0);
    std::memcpy(pcm.bytes.data(), data, length);
    cvt.buf = pcm.bytes.data();
    cvt.len = static_cast<int>(length);
    if (cvt.needed && SDL_ConvertAudio(&cvt) < 0)
        return "cannot convert sound \"" + file.string() + "\": " + SDL_GetError();
    pcm.bytes.resize(static_cast<std::size_t>(cvt.needed ? cvt.len_cvt : cvt.len));
    pcm.bits = 16;
    return "";
}

// Averages all channels into one.
void MixDownToMono(Pcm& pcm) {
    if (pcm.channels == 1) return;
    const std::size_t width = static_cast<std::size_t>(pcm.bits / 8);
    const std::size_t frameBytes = width * static_cast<std::size_t>(pcm.channels);
    const std::size_t frames = pcm.bytes.size() / frameBytes;
    std::vector<std::uint8_t> mono(frames * width);
    for (std::size_t f = 0; f < frames; ++f) {
        long sum = 0;
        for (int c = 0; c < pcm.channels; ++c) {
            const std::uint8_t* sample = pcm.bytes.data() + f * frameBytes + c * width;
            if (width == 1) {
                sum += static_cast<long>(*sample) - 128;
            } else {
                std::int16_t value;
                std::memcpy(&value, sample, 2);
                sum += value;
            }
        }
        const long mean = sum / pcm.channels;
        if (width == 1) {
            mono[f] = static_cast<std::uint8_t>(mean + 128);
        } else {
            const std::int16_t value = static_cast<std::int16_t>(mean);
            std::memcpy(mono.data() + f * 2, &value, 2);
        }
    }
    pcm.bytes = std::move(mono);
    pcm.channels = 1;
}

ALenum AlFormat(const Pcm& pcm) {
    if (pcm.channels == 1) return pcm.bits == 8 ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16;
    return pcm.bits == 8 ? AL_FORMAT_STEREO8 : AL_FORMAT_STEREO16;
}

} // namespace

SoundLoad AudioSystem::LoadSound(const std::filesystem::path& wavFile, bool is3d) {
    SoundLoad result;
    Pcm pcm;
    result.error = ReadWav(wavFile, pcm);
    if (!result.error.empty()) return result;
    if (is3d || pcm.channels > 2) MixDownToMono(pcm);
    // Whole frames only.
    const std::size_t frameBytes = static_cast<std::size_t>(pcm.bits / 8 * pcm.channels);
    pcm.bytes.resize(pcm.bytes.size() / frameBytes * frameBytes);

    std::unique_ptr<Sound> sound(new Sound());
    sound->core_ = core_;
    sound->is3d_ = is3d;
    sound->sampleRate_ = pcm.rate;
    sound->channels_ = pcm.channels;
    sound->bitsPerSample_ = pcm.bits;
    sound->frameCount_ = pcm.bytes.size() / frameBytes;
    if (core_->Bind()) {
        alGetError();
        alGenBuffers(1, &sound->buffer_);
        alBufferData(sound->buffer_, AlFormat(pcm), pcm.bytes.data(),
                     static_cast<ALsizei>(pcm.bytes.size()), pcm.rate);
        alGenSources(1, &sound->source_);
        alSourcei(sound->source_, AL_BUFFER, static_cast<ALint>(sound->buffer_));
        if (alGetError() != AL_NO_ERROR) {
            result.error = "cannot create a voice for sound \"" + wavFile.string() + "\"";
            return result; // the Sound's destructor releases what was made
        }
        if (is3d) {
            alSourcef(sound->source_, AL_REFERENCE_DISTANCE, 1.0f);
            alSourcef(sound->source_, AL_MAX_DISTANCE, 1.0e9f);
            alSourcef(sound->source_, AL_ROLLOFF_FACTOR, core_->rolloff);
            core_->sources3d.push_back(sound->source_);
        } else {
            alSourcei(sound->source_, AL_SOURCE_RELATIVE, AL_TRUE);
            alSourcef(sound->source_, AL_ROLLOFF_FACTOR, 0.0f);
        }
    }
    result.sound = std::move(sound);
    return result;
}

// ---------------------------------------------------------------------------------------------
// 4. Sound
// ---------------------------------------------------------------------------------------------

Sound::~Sound() {
    if (!core_ || !core_->Bind()) return;
    if (source_) {
        alSourceStop(source_);
        alDeleteSources(1, &source_);
        std::erase(core_->sources3d, source_);
    }
    if (buffer_) alDeleteBuffers(1, &buffer_);
}

double Sound::DurationSeconds() const {
    return sampleRate_ > 0 ? static_cast<double>(frameCount_) / sampleRate_ : 0.0;
}

void Sound::SetPosition(glm::vec3 position) {
    if (!is3d_ || !source_ || !Finite(position) || !core_->Bind()) return;
    ALfloat v[3];
    ToAl(position, v);
    alSourcefv(source_, AL_POSITION, v);
}

void Sound::SetVelocity(glm::vec3 unitsPerSecond) {
    if (!is3d_ || !source_ || !Finite(unitsPerSecond) || !core_->Bind()) return;
    ALfloat v[3];
    ToAl(unitsPerSecond, v);
    alSourcefv(source_, AL_VELOCITY, v);
}

void Sound::Play(bool looping) {
    looping_ = looping;
    if (!source_ || !core_->Bind()) return;
    alSourcei(source_, AL_LOOPING, looping ? AL_TRUE : AL_FALSE);
    ALint state = AL_INITIAL;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING) alSourcePlay(source_);
}

void Sound::Stop() {
    if (!source_ || !core_->Bind()) return;
    ALint state = AL_INITIAL;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING) alSourcePause(source_);
}

void Sound::Rewind() {
    if (!source_ || !core_->Bind()) return;
    ALint state = AL_INITIAL;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING)
        alSourcei(source_, AL_SAMPLE_OFFSET, 0);
    else
        alSourceRewind(source_); // back to the initial state: the next Play starts at 0
}

bool Sound::IsPlaying() const {
    if (!source_ || !core_->Bind()) return false;
    ALint state = AL_INITIAL;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    return state == AL_PLAYING;
}

std::size_t Sound::PositionFrames() const {
    if (!source_ || !core_->Bind()) return 0;
    ALint offset = 0;
    alGetSourcei(source_, AL_SAMPLE_OFFSET, &offset);
    return offset > 0 ? static_cast<std::size_t>(offset) : 0;
}

} // namespace audio
