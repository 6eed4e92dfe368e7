// data_folder.h: finds the folder that holds the demo's data files. Main thread, at start-up.
#pragma once

// Makes the folder that holds the song (and beside it Data/Particle.bmp) the working
// directory: the working directory itself when it has the song, else the program's own folder,
// else the installed data folder (../share/demo from the program's folder). When none has it,
// nothing changes, and the loaders report the missing files as they always have. Returns
// whether a folder with the song was found.
bool EnterDataFolder();
