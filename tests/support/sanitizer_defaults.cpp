// Built into every executable of the sanitizer build, so that a test checks the same way
// whether ctest, a developer or another test (running the program) starts it. Options
// set in the environment still apply on top of these.

extern "C" {

// Leaks are always looked for. Each allocation's stack is walked in full, slower but
// needed for a suppression to name a function inside a library built without frame
// pointers (OpenSSL's, say).
const char* __asan_default_options() {
    return "detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1";
}

// Only third-party leaks that are not ours, each with its reason, in the file.
const char* __lsan_default_options() {
    return "suppressions=" BRIMWELL_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
}
