// data_folder.cpp: finds the folder that holds the demo's data files and makes it the working
// directory, before anything is loaded. Main thread, at start-up.
#include "shell/data_folder.h"

#include "platform/platform.h"

#include <filesystem>
#include <initializer_list>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr const char* kSongName = "Zarq-Neat.xm";

bool HoldsSong(const fs::path& folder) {
    std::error_code error;
    return fs::is_regular_file(folder / kSongName, error);
}

} // namespace

bool EnterDataFolder() {
    if (HoldsSong(".")) return true; // the working directory comes first, as it always has
    char program[4096];
    if (!platform::ExecutablePath(program, sizeof program)) return false;
    fs::path programFolder = fs::path(program).parent_path();
    // Beside the program (a build folder, an unpacked archive), then where `cmake --install`
    // puts the data: <prefix>/share/demo for <prefix>/bin/demo (cmake/Install.cmake).
    for (const fs::path& folder : {programFolder, programFolder / ".." / "share" / "demo"}) {
        if (!HoldsSong(folder)) continue;
        // The working directory is moved rather than a folder handed to the loaders: the song
        // and the bitmap are read by relative names ("Zarq-Neat.xm" through the music's file
        // operations, "Data/Particle.bmp" through the file mapping), and one change at start-up
        // moves both without a path threaded through two subsystems and the music's file
        // callbacks. Nothing in the program depends on the starting folder afterwards.
        std::error_code error;
        fs::current_path(folder, error);
        return !error;
    }
    return false;
}
