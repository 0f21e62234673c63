// SPDX-License-Identifier: GPL-3.0-or-later
// What the sanitizers must not count against us in the sound-server tests. libpulse and SDL's
// PulseAudio driver share a connection between SDL's hot-plug thread and the caller of SDL's
// audio functions, and the races reported there lie inside those libraries; each fresh start of
// SDL's audio after the server went away leaves a few of their allocations behind. SDL's driver
// also swaps its default sink's name on its hot-plug thread while a caller asks for the default
// device's format: a fault of SDL 2.26 with no lock of ours to close it.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon-16.1.so\nrace:libpulse.so.0\nrace:DeviceRateLocked\n";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpulse.so.0\nleak:libSDL2-2.0.so.0\n";
}
