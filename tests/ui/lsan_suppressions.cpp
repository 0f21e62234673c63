// The widget tests start fontconfig through Qt, and fontconfig keeps its caches until the process
// ends without ever freeing them; LeakSanitizer would report that as our leak.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
