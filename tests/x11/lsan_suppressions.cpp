// SPDX-License-Identifier: GPL-3.0-or-later
// As in the widget tests, fontconfig's caches are never freed; on a real X server Qt also opens
// the session bus through libdbus, which keeps a buffer of its own until the process ends.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
