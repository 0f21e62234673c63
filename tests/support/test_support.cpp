#include "tests/support/test_support.h"
