// What the sanitizers must not count against us in the sound-server tests. libpulse and SDL's
// PulseAudio driver share a connection between SDL's hot-plug thread and the caller of SDL's
// audio functions, and the races reported there lie inside those libraries; each fresh start of
// SDL's audio after the server went away leaves a few of their allocations behind.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon-16.1.so\nrace:libpulse.so.0\n";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpulse.so.0\nleak:libSDL2-2.0.so.0\n";
}
