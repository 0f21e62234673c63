// SPDX-License-Identifier: GPL-3.0-or-later
// The real output: SDL2 playback devices fed by the mixer from SDL's callbacks. SDL's environment
// variables (SDL_AUDIODRIVER, SDL_DISKAUDIOFILE, ...) keep working.
//
// A watcher thread owns every device: it opens the chosen one (or the system default while the
// chosen one is missing), notices a device that SDL has lost, and when nothing opens starts SDL's
// audio afresh, since a sound server that went away leaves SDL's connection dead for good. The
// mixer keeps its voices across all of this, so the sound picks up where it was.
//
// The monitor device plays the same mix through a MonitorRing that the main callback fills; while
// the main output is missing or stalls, the monitor's callback mixes for itself instead. Which
// callback mixes is decided by a flag taken without waiting.
//
// With nothing to sound for a while both devices are closed, not paused: SDL 2's pause only
// makes its thread write silence, and the server goes on mixing it. The mixer's clock runs on
// meanwhile, and the next start wakes the watcher, which opens them again.
#include "audio/monitor_ring.h"
#include "audio/output_backend.h"
#include "audio/output_config.h"

#include <SDL.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <semaphore>
#include <string_view>
#include <thread>
#include <utility>

namespace {

constexpr Uint16 kPeriodFrames = 256;
constexpr Uint16 kFallbackPeriodFrames = 512;
// The rate to ask for when the driver does not tell a device's own (dummy, disk): what most
// sound cards and servers run at.
constexpr int kUsualDeviceRate = 48000;
constexpr auto kWatchTick = std::chrono::milliseconds(100);
constexpr auto kRestartEvery = std::chrono::milliseconds(300);
constexpr auto kRetryChosenEvery = std::chrono::seconds(2);
constexpr auto kIdleAfter = std::chrono::seconds(5);
// The ring holds far more than any target; the target covers both periods twice over.
constexpr std::size_t kRingFrames = 32768;
// Frames the monitor mixes per step while it stands in for the main output.
constexpr std::size_t kStandInFrames = 512;
constexpr std::int64_t kStandInAfterNs = 150'000'000;

using Clock = std::chrono::steady_clock;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Below the sound servers' own threads (PulseAudio's are at 5, PipeWire's higher), so ours never
// delays theirs.
constexpr int kRealtimePriority = 3;

// SDL asks for a realtime class only through rtkit and otherwise settles for a nice level, which
// any burst of another process can still delay past a 5 ms period. Where the process may take
// round-robin itself (root, or a raised RLIMIT_RTPRIO), a device's thread takes it at its first
// callback; where it may not, the call fails and SDL's level stays. One system call per thread.
void RaiseOnce(std::atomic<pthread_t>& raised) {
    const pthread_t self = pthread_self();
    if (pthread_equal(raised.load(std::memory_order_relaxed), self) != 0)
        return;
    raised.store(self, std::memory_order_relaxed);
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param);
}

// SDL's disk driver paces itself by whole milliseconds per period, so 256 frames at 22050 Hz
// (11.6 ms, paced as 11) would write the file 4% faster than real time and stretch every repeat
// measured from it. There the period is the first one of whole milliseconds.
Uint16 ChoosePeriod(int samplesPerSec) {
    const char* driver = SDL_GetCurrentAudioDriver();
    if (driver == nullptr || std::string_view(driver) != "disk" ||
        SDL_getenv("SDL_DISKAUDIODELAY") != nullptr)
        return kPeriodFrames;
    for (int n = kPeriodFrames; n <= 4096; ++n)
        if (n * 1000 % samplesPerSec == 0)
            return static_cast<Uint16>(n);
    return kPeriodFrames;
}

// SDL's audio subsystem is process-wide: starting, stopping, enumerating, opening and closing go
// through this lock. Every fresh start bumps the generation, since device ids are handed out again
// after one and an id of an older generation names nothing of ours.
std::mutex g_sdlLock;
std::uint64_t g_nSdlGeneration = 0;

bool StartSdlAudioLocked() {
    if (SDL_WasInit(SDL_INIT_AUDIO) != 0)
        return true;
    // SDL would turn SIGINT and SIGTERM into quit events nobody reads: a logout or `kill` must
    // still end the program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    ++g_nSdlGeneration;
    return true;
}

// What tells a PulseAudio server (or pipewire-pulse) that went away and came back while no
// device was open to notice: its socket, made afresh at each start. Zero for other drivers.
std::uint64_t ServerMark() {
    const char* driver = SDL_GetCurrentAudioDriver();
    if (driver == nullptr || std::string_view(driver) != "pulseaudio")
        return 0;
    std::string path;
    if (const char* server = SDL_getenv("PULSE_SERVER"))
        path = std::string_view(server).starts_with("unix:") ? server + 5 : server;
    else if (const char* runtime = SDL_getenv("PULSE_RUNTIME_PATH"))
        path = std::string(runtime) + "/native";
    else if (const char* xdg = SDL_getenv("XDG_RUNTIME_DIR"))
        path = std::string(xdg) + "/pulse/native";
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_ino) * 1000003u ^
           static_cast<std::uint64_t>(st.st_ctim.tv_sec) * 1000000000u ^
           static_cast<std::uint64_t>(st.st_ctim.tv_nsec);
}

void RestartSdlAudioLocked() {
    if (SDL_WasInit(SDL_INIT_AUDIO) != 0)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    StartSdlAudioLocked();
}

// The default device's rate. Kept out of line so that the race checker sees its caller: SDL 2.26's
// PulseAudio driver reads its default sink's name here while its hot-plug thread may replace it,
// unlocked.
[[gnu::noinline]] int DefaultDeviceRate() {
    SDL_AudioSpec spec{};
    char* defaultName = nullptr;
    if (SDL_GetDefaultAudioInfo(&defaultName, &spec, 0) != 0)
        return 0;
    SDL_free(defaultName);
    return spec.freq;
}

// The device's own rate, as the driver reports it (a PulseAudio sink's rate); the usual rate when
// it tells none.
[[gnu::noinline]] int DeviceRateLocked(const std::string& name) {
    if (name.empty()) {
        const int rate = DefaultDeviceRate();
        return rate > 0 ? rate : kUsualDeviceRate;
    }
    SDL_AudioSpec spec{};
    const int n = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < n; ++i) {
        const char* listed = SDL_GetAudioDeviceName(i, 0);
        if (listed != nullptr && name == listed && SDL_GetAudioDeviceSpec(i, 0, &spec) == 0 &&
            spec.freq > 0)
            return spec.freq;
    }
    return kUsualDeviceRate;
}

class CSdlBackend final : public OutputBackend {
public:
    CSdlBackend(std::shared_ptr<MixerCore> core, const OutputConfig& config)
        : OutputBackend(std::move(core)), m_config(config),
          m_ring(kRingFrames, Core()->Format().nSamplesPerSec),
          m_standIn(std::make_unique<std::uint8_t[]>(kStandInFrames * 4)),
          m_other(std::make_unique<std::uint8_t[]>(kStandInFrames * 4)) {
        Core()->SetWakeHook(&CSdlBackend::Kick, this);
    }

    ~CSdlBackend() override {
        // Waits for a start that is kicking us (a detached worker may make one at any time).
        Core()->SetWakeHook(nullptr, nullptr);
        {
            std::lock_guard<std::mutex> guard(m_wishLock);
            m_bQuit = true;
        }
        m_kick.release();
        if (m_watcher.joinable())
            m_watcher.join();
        {
            std::lock_guard<std::mutex> sdl(g_sdlLock);
            Close(m_main);
            Close(m_monitor);
        }
        // The callbacks have returned for good: the mixer may let every voice go.
        Core()->Shutdown();
    }

    // The first attempt runs on the caller's thread, so that a device present at start-up plays
    // the jingle at once; the watcher takes over from there.
    void Start(const OutputFormat& format) {
        const OutputRoute& route = m_config.route;
        OutputFormat mix = format;
        mix.nSamplesPerSec = m_config.MixRateFor(kUsualDeviceRate); // until a device tells its own
        Core()->SetFormat(mix);
        Core()->SetRequested(format);
        {
            std::lock_guard<std::mutex> guard(m_wishLock);
            m_wish = route;
            m_bWishChanged = false;
        }
        {
            std::lock_guard<std::mutex> sdl(g_sdlLock);
            Tend(route, true);
        }
        m_watcher = std::thread([this] { Watch(); });
    }

    std::string DriverName() const override {
        std::lock_guard<std::mutex> guard(m_infoLock);
        return m_strDriver;
    }
    std::uint32_t PeriodFrames() const override { return m_nPeriod.load(); }

    bool SetRoute(const OutputRoute& route) override {
        {
            std::lock_guard<std::mutex> guard(m_wishLock);
            m_wish = route;
            m_bWishChanged = true;
        }
        m_kick.release();
        return true;
    }

    std::uint64_t Underruns() const override {
        return m_nUnderruns.load(std::memory_order_relaxed);
    }

    void SetIdleAfter(std::chrono::milliseconds after) override {
        m_nIdleAfterMs.store(after.count(), std::memory_order_relaxed);
        m_kick.release();
    }

    OutputStatus Status() const override {
        OutputStatus s;
        s.main = m_mainState.load();
        s.monitor = m_monitorState.load();
        s.nOpens = m_nOpens.load();
        s.nReturns = m_nReturns.load();
        s.nMonitorFrames = m_nMonitorFrames.load(std::memory_order_relaxed);
        s.dMonitorLag = m_ring.AverageFill();
        s.nStandIns = m_nStandIns.load(std::memory_order_relaxed);
        s.bAsleep = m_bAsleep.load();
        s.nSleeps = m_nSleeps.load();
        return s;
    }

    std::vector<std::string> DeviceNames() const override {
        std::lock_guard<std::mutex> guard(m_infoLock);
        return m_names;
    }

protected:
    HRESULT Reopen(const OutputFormat& format) override {
        std::lock_guard<std::mutex> sdl(g_sdlLock);
        const OutputFormat old = Core()->Format();
        const bool wasOpen = m_main.id != 0;
        const std::string mainName = m_main.name;
        Close(m_main);
        Close(m_monitor);
        Core()->SetFormat(format);
        if (!wasOpen || OpenMain(mainName)) {
            return DS_OK; // a waiting output opens in the new format when a device comes
        }
        Core()->SetFormat(old);
        OpenMain(mainName);
        return DSERR_BADFORMAT;
    }

private:
    struct Device {
        SDL_AudioDeviceID id = 0;
        std::uint64_t generation = 0;
        std::string name; // what it was opened as; empty = the system default
    };

    static void SDLCALL MainCallback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<CSdlBackend*>(userdata);
        RaiseOnce(self->m_mainThread);
        const OutputFormat f = self->Core()->Format();
        const std::size_t frames =
            static_cast<std::size_t>(len) / (f.nChannels * f.wBitsPerSample / 8);
        const std::int64_t now = NowNs();
        self->m_nMainBeat.store(now, std::memory_order_relaxed);
        // SDL hides the server's own underrun reports: a callback more than two periods after
        // the one before has let the device run dry.
        const std::int64_t last = self->m_nLastCallback.exchange(now, std::memory_order_relaxed);
        if (last != 0 && now - last > self->m_nLateNs.load(std::memory_order_relaxed))
            self->m_nUnderruns.fetch_add(1, std::memory_order_relaxed);
        if (self->m_mixing.test_and_set(std::memory_order_acquire)) {
            // The monitor is standing in for this output this very moment.
            std::memset(stream, f.wBitsPerSample == 8 ? 0x80 : 0, static_cast<std::size_t>(len));
            return;
        }
        if (self->m_bFeedMonitor.load(std::memory_order_acquire)) {
            const std::size_t frameBytes = f.nChannels * f.wBitsPerSample / 8;
            for (std::size_t at = 0; at < frames; at += kStandInFrames) {
                const std::size_t n = std::min(frames - at, kStandInFrames);
                self->Core()->MixOutput(stream + at * frameBytes, self->m_other.get(), n);
                self->m_ring.WriteFormat(self->m_other.get(), n, f);
            }
        } else {
            self->Core()->MixOutput(stream, frames);
        }
        self->m_mixing.clear(std::memory_order_release);
    }

    static void SDLCALL MonitorCallback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<CSdlBackend*>(userdata);
        RaiseOnce(self->m_monitorThread);
        auto* out = reinterpret_cast<std::int16_t*>(stream);
        std::size_t frames = static_cast<std::size_t>(len) / 4;
        self->m_nMonitorFrames.fetch_add(frames, std::memory_order_relaxed);
        const bool mainAlive = self->m_bMainOpen.load(std::memory_order_acquire) &&
                               NowNs() - self->m_nMainBeat.load(std::memory_order_relaxed) <
                                   self->m_nStaleNs.load(std::memory_order_relaxed);
        if (mainAlive) {
            self->m_ring.Read(out, frames);
            return;
        }
        // The main output is gone or stalls: mix here until it is back, then take the ring up
        // again once it has refilled.
        self->m_ring.Restart();
        self->m_nStandIns.fetch_add(1, std::memory_order_relaxed);
        if (self->m_mixing.test_and_set(std::memory_order_acquire)) {
            std::memset(stream, 0, static_cast<std::size_t>(len));
            return;
        }
        const OutputFormat f = self->Core()->Format();
        while (frames > 0) {
            const std::size_t n = std::min(frames, kStandInFrames);
            self->Core()->MixOutput(self->m_other.get(), self->m_standIn.get(), n);
            ToStereo16(self->m_standIn.get(), n, f, out);
            out += 2 * n;
            frames -= n;
        }
        self->m_mixing.clear(std::memory_order_release);
    }

    // A start while asleep: called by the starting thread, never by a callback.
    static void Kick(void* context) { static_cast<CSdlBackend*>(context)->m_kick.release(); }

    void Watch() {
        for (;;) {
            (void)m_kick.try_acquire_for(kWatchTick);
            OutputRoute wish;
            bool changed = false;
            {
                std::lock_guard<std::mutex> guard(m_wishLock);
                if (m_bQuit)
                    break;
                wish = m_wish;
                changed = std::exchange(m_bWishChanged, false);
            }
            std::lock_guard<std::mutex> sdl(g_sdlLock);
            Tend(wish, changed);
        }
    }

    // One look at the devices (under g_sdlLock): drop lost ones, follow the route, reopen.
    void Tend(const OutputRoute& wish, bool changed) {
        if (m_bAsleep.load()) {
            const bool serverSame = ServerMark() == m_nServerMark;
            if (Core()->IsSuspended() && serverSame && !changed)
                return;
            // A new route opens at once, so that the title says how it went; a server that went
            // and came back opens as after a lost device, so that the return is counted (the
            // virtual microphone is made again on it). Nothing sounding, asleep at the next look.
            Core()->Resume();
            m_bMainLost = m_bMainLost || !serverSame;
            m_bAsleep.store(false);
        }
        if (SDL_WasInit(SDL_INIT_AUDIO) == 0) {
            if (Clock::now() - m_lastRestart < kRestartEvery && !changed) {
                return;
            }
            m_lastRestart = Clock::now();
            if (!StartSdlAudioLocked()) {
                m_mainState = OutputState::Waiting;
                m_monitorState = wish.bMonitor ? OutputState::Waiting : OutputState::Off;
                return;
            }
        }
        DropIfLost(m_main);
        DropIfLost(m_monitor);
        ReadNames();

        const bool chosenThere = wish.strMain.empty() || Listed(wish.strMain);
        const std::string mainName = chosenThere ? wish.strMain : std::string();
        // A chosen device that is listed but would not open is tried again only now and then,
        // so that the fallback does not stutter.
        const bool retryChosen = changed || Clock::now() - m_lastChosenFailure > kRetryChosenEvery;
        if (m_main.id != 0 && m_main.name != mainName && retryChosen)
            Close(m_main); // a new choice, or the chosen device is back, or it went; the
                           // monitor plays on, standing in until the main output is back
        if (m_main.id == 0)
            OpenMainOrDefault(mainName);

        const bool monitorThere = wish.strMonitor.empty() || Listed(wish.strMonitor);
        if (m_monitor.id != 0 && (!wish.bMonitor || m_monitor.name != wish.strMonitor ||
                                  m_nMonitorRate != Core()->Format().nSamplesPerSec))
            Close(m_monitor); // also when the main output came back at another rate
        if (m_monitor.id == 0 && wish.bMonitor && monitorThere)
            OpenMonitor(wish.strMonitor);

        if (m_main.id == 0 && m_monitor.id == 0 && Clock::now() - m_lastRestart >= kRestartEvery) {
            // Nothing opens: the sound server may have gone and come back, which SDL does not
            // notice by itself.
            m_lastRestart = Clock::now();
            RestartSdlAudioLocked();
            if (SDL_WasInit(SDL_INIT_AUDIO) != 0) {
                ReadNames();
                OpenMainOrDefault(mainName);
                if (wish.bMonitor && (wish.strMonitor.empty() || Listed(wish.strMonitor)))
                    OpenMonitor(wish.strMonitor);
            }
        }

        // A server that restarts quickly is seen only as a lost device opened again at once.
        if (m_main.id != 0 && (m_mainState == OutputState::Waiting || m_bMainLost))
            m_nReturns.fetch_add(1);
        m_bMainLost = m_main.id == 0 && m_bMainLost;
        m_mainState = m_main.id == 0                ? OutputState::Waiting
                      : m_main.name == wish.strMain ? OutputState::Playing
                                                    : OutputState::Fallback;
        m_monitorState = !wish.bMonitor      ? OutputState::Off
                         : m_monitor.id != 0 ? OutputState::Playing
                                             : OutputState::Waiting;

        if ((m_main.id != 0 || m_monitor.id != 0) &&
            IdleFor(*Core(), std::chrono::milliseconds(m_nIdleAfterMs.load())))
            Sleep();
    }

    void Sleep() {
        // Closing drops what the server has not played yet: a sound started since the look
        // above may be in it. Paused, no callback mixes any more, and a look again tells.
        const std::uint64_t lastSounding = Core()->LastSoundingFrame();
        for (const Device* d : {&m_main, &m_monitor})
            if (d->id != 0)
                SDL_PauseAudioDevice(d->id, 1);
        if (!Core()->Quiet() || Core()->LastSoundingFrame() != lastSounding) {
            for (const Device* d : {&m_main, &m_monitor})
                if (d->id != 0)
                    SDL_PauseAudioDevice(d->id, 0);
            return;
        }
        Close(m_main);
        Close(m_monitor);
        m_bAsleep.store(true);
        m_nServerMark = ServerMark();
        m_nSleeps.fetch_add(1);
        Doze(*Core());
    }

    bool Listed(const std::string& name) const {
        std::lock_guard<std::mutex> guard(m_infoLock);
        return std::find(m_names.begin(), m_names.end(), name) != m_names.end();
    }

    void ReadNames() {
        std::vector<std::string> names;
        const int n = SDL_GetNumAudioDevices(0);
        for (int i = 0; i < n; ++i) {
            const char* name = SDL_GetAudioDeviceName(i, 0);
            if (name != nullptr)
                names.emplace_back(name);
        }
        const char* driver = SDL_GetCurrentAudioDriver();
        std::lock_guard<std::mutex> guard(m_infoLock);
        m_names = std::move(names);
        m_strDriver = driver != nullptr ? driver : "";
    }

    void DropIfLost(Device& d) {
        if (d.id == 0)
            return;
        if (d.generation != g_nSdlGeneration) {
            d = Device{}; // SDL started afresh: the id is gone already
        } else if (SDL_GetAudioDeviceStatus(d.id) == SDL_AUDIO_STOPPED) {
            Close(d);
        } else {
            return;
        }
        if (&d == &m_main) {
            m_bMainOpen.store(false, std::memory_order_release);
            m_bMainLost = true;
            Core()->ExpectOutput(); // it is opened again, on this device or another
        } else {
            m_bFeedMonitor.store(false, std::memory_order_release);
        }
    }

    void Close(Device& d) {
        if (&d == &m_main) {
            m_bMainOpen.store(false, std::memory_order_release);
            if (d.id != 0)
                Core()->ExpectOutput(); // to open another, or to sleep
        } else
            m_bFeedMonitor.store(false, std::memory_order_release);
        if (d.id != 0 && d.generation == g_nSdlGeneration)
            SDL_CloseAudioDevice(d.id);
        d = Device{};
    }

    SDL_AudioDeviceID OpenOne(const std::string& name, SDL_AudioSpec want, SDL_AudioSpec* have,
                              int allowed = SDL_AUDIO_ALLOW_SAMPLES_CHANGE) {
        const char* device = name.empty() ? nullptr : name.c_str();
        SDL_AudioDeviceID id = SDL_OpenAudioDevice(device, 0, &want, have, allowed);
        if (id != 0 && have->samples != want.samples) {
            // The driver would not keep 256 frames; 512 is the next period we accept.
            SDL_CloseAudioDevice(id);
            want.samples = kFallbackPeriodFrames;
            id = SDL_OpenAudioDevice(device, 0, &want, have, allowed);
        }
        return id;
    }

    void OpenMainOrDefault(const std::string& name) {
        if (OpenMain(name) || name.empty())
            return;
        m_lastChosenFailure = Clock::now();
        OpenMain({});
    }

    bool OpenMain(const std::string& name) {
        if (SDL_WasInit(SDL_INIT_AUDIO) == 0)
            return false;
        const OutputFormat format = Core()->Format();
        // The mix runs at the device's own rate, so that the server resamples nothing; a forced
        // rate is asked for as it is and SDL converts when the device will not take it.
        const std::uint32_t forced = m_config.nForcedMixRate;
        SDL_AudioSpec want{};
        want.freq = forced != 0 ? static_cast<int>(forced) : DeviceRateLocked(name);
        want.format = format.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(format.nChannels);
        want.samples = ChoosePeriod(want.freq);
        want.callback = &CSdlBackend::MainCallback;
        want.userdata = this;
        SDL_AudioSpec have{};
        const SDL_AudioDeviceID id = OpenOne(
            name, want, &have,
            SDL_AUDIO_ALLOW_SAMPLES_CHANGE | (forced != 0 ? 0 : SDL_AUDIO_ALLOW_FREQUENCY_CHANGE));
        if (id == 0)
            return false;
        m_main = {id, g_nSdlGeneration, name};
        m_nPeriod = have.samples;
        SetMixRate(m_config.MixRateFor(static_cast<std::uint32_t>(have.freq)));
        m_nLastCallback.store(0, std::memory_order_relaxed);
        m_nLateNs.store(2'000'000'000LL * have.samples / std::max(have.freq, 1),
                        std::memory_order_relaxed);
        m_nOpens.fetch_add(1);
        // Silent this long, the main output is taken as stalled and the monitor mixes.
        m_nStaleNs = std::max<std::int64_t>(40'000'000, 3'000'000'000LL * have.samples /
                                                            std::max(have.freq, 1));
        m_nMainBeat.store(NowNs(), std::memory_order_relaxed);
        m_bMainOpen.store(true, std::memory_order_release);
        SDL_PauseAudioDevice(id, 0);
        return true;
    }

    bool OpenMonitor(const std::string& name) {
        if (SDL_WasInit(SDL_INIT_AUDIO) == 0)
            return false;
        const OutputFormat format = Core()->Format();
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(format.nSamplesPerSec);
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = ChoosePeriod(want.freq);
        want.callback = &CSdlBackend::MonitorCallback;
        want.userdata = this;
        SDL_AudioSpec have{};
        const SDL_AudioDeviceID id = OpenOne(name, want, &have);
        if (id == 0)
            return false;
        m_monitor = {id, g_nSdlGeneration, name};
        m_nMonitorRate = format.nSamplesPerSec;
        m_nOpens.fetch_add(1);
        // Two periods of each side: blocks of either size never drain the ring.
        m_ring.SetTarget(
            2 * (std::max<std::size_t>(m_nPeriod.load(), kPeriodFrames) + have.samples),
            format.nSamplesPerSec);
        m_ring.Restart();
        m_bFeedMonitor.store(true, std::memory_order_release);
        SDL_PauseAudioDevice(id, 0);
        return true;
    }

    const OutputConfig m_config; // the route it starts on, a forced mix rate

    // The watcher's wish, guarded by m_wishLock.
    std::mutex m_wishLock;
    std::counting_semaphore<> m_kick{0}; // released by a wish, a start while asleep, the end
    OutputRoute m_wish;
    bool m_bWishChanged = true;
    bool m_bQuit = false;
    std::thread m_watcher;

    // Under g_sdlLock.
    Device m_main;
    Device m_monitor;
    Clock::time_point m_lastRestart{};
    Clock::time_point m_lastChosenFailure{};
    std::uint32_t m_nMonitorRate = 0; // the mix rate the monitor device was opened for

    // What the window may read.
    mutable std::mutex m_infoLock; // never taken by a callback
    std::vector<std::string> m_names;
    std::string m_strDriver;
    std::atomic<std::uint32_t> m_nPeriod{0};
    std::atomic<OutputState> m_mainState{OutputState::Waiting};
    std::atomic<OutputState> m_monitorState{OutputState::Off};
    std::atomic<std::uint64_t> m_nOpens{0};
    std::atomic<std::uint64_t> m_nReturns{0};
    bool m_bMainLost = false;        // the watcher's own
    std::uint64_t m_nServerMark = 0; // the watcher's own
    std::atomic<bool> m_bAsleep{false};
    std::atomic<std::uint64_t> m_nSleeps{0};
    std::atomic<std::int64_t> m_nIdleAfterMs{
        std::chrono::duration_cast<std::chrono::milliseconds>(kIdleAfter).count()};

    // Shared with the callbacks: lock-free.
    std::atomic_flag m_mixing = ATOMIC_FLAG_INIT;
    std::atomic<bool> m_bMainOpen{false};
    std::atomic<bool> m_bFeedMonitor{false};
    std::atomic<std::int64_t> m_nMainBeat{0};
    std::atomic<std::uint64_t> m_nMonitorFrames{0};
    std::atomic<std::uint64_t> m_nStandIns{0};
    std::atomic<std::int64_t> m_nStaleNs{kStandInAfterNs};
    std::atomic<std::int64_t> m_nLastCallback{0};
    std::atomic<std::int64_t> m_nLateNs{0};
    std::atomic<std::uint64_t> m_nUnderruns{0};
    std::atomic<pthread_t> m_mainThread{}; // the thread each callback last raised
    std::atomic<pthread_t> m_monitorThread{};
    MonitorRing m_ring; // written by the main callback, read by the monitor callback
    std::unique_ptr<std::uint8_t[]> m_standIn; // the monitor callback's mix while it stands in
    // The other output's block of whichever callback mixes: the monitor's for the main one, the
    // main output's (dropped) while the monitor stands in.
    std::unique_ptr<std::uint8_t[]> m_other;
};

} // namespace

void SetSoundServerLatency() {
    // 16 ms: three periods. At SDL's one (5.3 ms, of which the server keeps 4) an idle machine
    // ran dry about twice a second; at 16 only where the host stalls every thread for longer,
    // and any other client at 16 ms runs dry there as often.
    setenv("PULSE_LATENCY_MSEC", "16", 0);
}

HRESULT OpenSdlBackend(const OutputConfig& config, const OutputFormat& format,
                       std::shared_ptr<OutputBackend>* backend) {
    auto sdl = std::make_shared<CSdlBackend>(std::make_shared<MixerCore>(format), config);
    sdl->Start(format);
    *backend = std::move(sdl);
    return DS_OK;
}
