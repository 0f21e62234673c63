// The same never-freed fontconfig caches as in the widget tests (tests/ui/lsan_suppressions.cpp).
#include "../ui/lsan_suppressions.cpp"
