// Where the program runs: the folder whose data/ and videos/ it reads and writes. Started in a folder
// that holds data/ (the console, build/run, a performer's own set), it runs there; started anywhere
// else, in the user's own folder, made on the first start from the default set installed beside the
// program (share/loopmixer next to bin/).
#pragma once
#include <string>

// The default set of an installed program: <folder of the executable>/../share/loopmixer when it holds
// data/, otherwise "".
std::string installedDefaultSet();

// $XDG_DATA_HOME/loopmixer, or $HOME/.local/share/loopmixer ("" without either).
std::string userRunFolder();

// The run folder: the one given (--run-folder), else the current one when it holds data/, else the
// user's folder when a default set exists to make it from, else the current one (whose missing
// data/ start-up then reports).
std::string chooseRunFolder(const std::string& given, const std::string& current, const std::string& defaultSet,
                            const std::string& userFolder);

// Makes dir a run folder from the default set when it has no data/ yet: the settings files are
// copied, the pictures, the font and the demo clips linked. Once made, only the program's own files
// (pictures, font, licence) are linked again where they are missing or their link dangles; the
// performer's settings and clips are never touched. False with a reason when the folder cannot be
// made.
bool prepareRunFolder(const std::string& dir, const std::string& defaultSet, std::string& error);

// The whole choice as the programs make it: chooses the folder, and makes or mends it from the
// installed default set when it is the user's folder or lacks data/ (a folder with data/ of the
// performer's own is left exactly as it is). "" with a reason when it cannot be made.
std::string runFolderFor(const std::string& given, std::string& error);
