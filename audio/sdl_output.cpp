// The real output: SDL2's default playback device, fed by the mixer from SDL's callback. Only
// forwards; SDL's environment variables (SDL_AUDIODRIVER, SDL_DISKAUDIOFILE, ...) keep working.
#include "audio/output_backend.h"

#include <SDL.h>

#include <mutex>

namespace {

constexpr Uint16 kPeriodFrames = 256;
constexpr Uint16 kFallbackPeriodFrames = 512;

bool InitSdlAudio() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0; });
    return ok;
}

class CSdlBackend final : public OutputBackend {
public:
    explicit CSdlBackend(std::shared_ptr<MixerCore> core) : OutputBackend(std::move(core)) {}

    ~CSdlBackend() override {
        Close();
        // The callback has returned for good: the mixer may let every voice go.
        Core()->Shutdown();
    }

    HRESULT Open(const OutputFormat& format) {
        Core()->SetFormat(format);
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(format.nSamplesPerSec);
        want.format = format.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(format.nChannels);
        want.samples = kPeriodFrames;
        want.callback = &CSdlBackend::Callback;
        want.userdata = Core().get();
        SDL_AudioSpec have{};
        m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
        if (m_device != 0 && have.samples != kPeriodFrames) {
            // The driver would not keep 256 frames; 512 is the next period we accept.
            SDL_CloseAudioDevice(m_device);
            want.samples = kFallbackPeriodFrames;
            m_device =
                SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
        }
        if (m_device == 0) {
            return DSERR_NODRIVER;
        }
        m_nPeriod = have.samples;
        SDL_PauseAudioDevice(m_device, 0);
        return DS_OK;
    }

    std::string DriverName() const override {
        const char* name = SDL_GetCurrentAudioDriver();
        return name != nullptr ? name : "";
    }
    std::uint32_t PeriodFrames() const override { return m_nPeriod; }

protected:
    HRESULT Reopen(const OutputFormat& format) override {
        const OutputFormat old = Core()->Format();
        Close();
        if (Open(format) == DS_OK) {
            return DS_OK;
        }
        Open(old);
        return DSERR_BADFORMAT;
    }

private:
    static void SDLCALL Callback(void* userdata, Uint8* stream, int len) {
        auto* core = static_cast<MixerCore*>(userdata);
        const OutputFormat f = core->Format();
        const int frameBytes = f.nChannels * (f.wBitsPerSample / 8);
        core->MixOutput(stream, static_cast<std::size_t>(len / frameBytes));
    }

    void Close() {
        if (m_device != 0) {
            SDL_CloseAudioDevice(m_device);
            m_device = 0;
        }
    }

    SDL_AudioDeviceID m_device = 0;
    std::uint32_t m_nPeriod = 0;
};

} // namespace

HRESULT OpenSdlBackend(const OutputFormat& format, std::shared_ptr<OutputBackend>* backend) {
    if (!InitSdlAudio()) {
        return DSERR_NODRIVER;
    }
    auto core = std::make_shared<MixerCore>(format);
    auto sdl = std::make_shared<CSdlBackend>(core);
    HRESULT hr = sdl->Open(format);
    if (hr != DS_OK) {
        return hr;
    }
    *backend = std::move(sdl);
    return DS_OK;
}
