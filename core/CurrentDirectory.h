// The process's current directory, where the run folder's data/ and videos/ are found.
#pragma once
#include <string>

// As getcwd gives it ("" when it cannot).
std::string currentDirectory();
