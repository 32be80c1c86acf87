// Qt is not built with ThreadSanitizer, so the locks its own worker threads use are invisible
// to it and memory those threads allocate and free looks racy. Memory accesses in the calls Qt's
// core, GUI and test libraries make into the sanitizer's interceptors are ignored; races in
// instrumented code are still reported.

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Test.so.6\n";
}
#endif
