// lsan_suppressions.cpp: leak-checker suppressions for the address-sanitizer builds, compiled
// into every program that links the SDL backend. The system libraries under the backend
// (D-Bus, fontconfig, X, the OpenGL driver, SDL itself) keep allocations for the life of the
// process and never free them. Only the sanitizer runtime calls this.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n"
           "leak:libX11.so\n"
           "leak:libxcb\n"
           "leak:libGLX_mesa.so\n"
           "leak:libGLdispatch.so\n"
           "leak:swrast_dri.so\n"
           "leak:libgallium\n"
           "leak:libLLVM\n"
           "leak:libSDL2\n";
}

// Keep the list of used suppressions out of every test's output.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
