// Helpers shared by the test suites.
#pragma once
