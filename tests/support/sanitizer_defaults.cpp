// Built into every executable of the sanitizer build, so that a test checks the same way
// whether ctest, a developer or another test (running the program) starts it. Options
// set in the environment still apply on top of these.

extern "C" {

// Leaks are always looked for; a leak at exit fails the process.
const char* __asan_default_options() {
    return "detect_leaks=1:detect_stack_use_after_return=1";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
}
