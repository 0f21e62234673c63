// SPDX-License-Identifier: GPL-3.0-or-later
// The widget tests start fontconfig through Qt, and fontconfig keeps its caches until the process
// ends without ever freeing them; LeakSanitizer would report that as our leak. SDL's audio, started
// afresh by the device tests, keeps its device lists and hints until SDL_Quit, which a process
// sharing SDL with Qt never calls.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2-2.0.so.0\n";
}

// Qt and libdbus order their threads inside their own uninstrumented code, which ThreadSanitizer
// cannot see: what their code allocates, frees or locks is left out, and a functor posted to
// another thread (QMetaObject::invokeMethod, queued), freed by whichever thread drops the last
// reference Qt counts, is not reported.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}

extern "C" const char* __tsan_default_suppressions() {
    return "race:QtPrivate::QFunctorSlotObject\n";
}
