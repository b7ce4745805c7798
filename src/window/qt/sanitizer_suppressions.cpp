// Compiled into the sanitizer build's Qt programs only. Two libraries that
// Qt's X11 platform loads on a desktop trip the sanitizers, which then stop
// the window at start or at exit; these are their reports, and nothing else.
// A report in our own code is fixed, never listed here.

extern "C" {

// libxkbcommon-x11, asked by Qt's xcb plugin for the keymap at start, copies
// names out of X server replies with strndup and a length. The names are not
// NUL-terminated, so strict_string_checks reports the read that strndup
// itself bounds.
const char* __asan_default_suppressions() { return "interceptor_via_lib:libxkbcommon-x11.so\n"; }

// libdbus-1 holds on to 1032 bytes it allocates while Qt looks for the
// desktop's session bus, and never frees them before the process ends.
const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

}  // extern "C"
