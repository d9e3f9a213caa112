// Free functions over the operating system's file, folder and process services.
// Every failure is an ARuntimeError with its origin in "kit_oslib".
#pragma once

#include <cstddef>

#include "kit/shared_string.h"

namespace kit {

shared_string getCurrentExecutableName();
// A shell special folder, created when missing.
shared_string getSpecialDirectory(int csidl);
shared_string getAppDataDirectory();       // CSIDL_APPDATA
shared_string getLocalAppDataDirectory();  // CSIDL_LOCAL_APPDATA
shared_string getPicturesDirectory();      // CSIDL_MYPICTURES
shared_string getMusicDirectory();         // CSIDL_MYMUSIC
shared_string getDocumentsDirectory();     // CSIDL_MYDOCUMENTS
shared_string getTempPath();
// Creates a unique empty file in the temporary folder and returns its path.
shared_string getTempFileName(const char* prefix);
bool fileExists(const char* path);
shared_string joinPath(const char* a, const char* b);
// Reads exactly `size` bytes; a shorter or longer file is an error.
void readDataFile(const char* path, void* buffer, std::size_t size);
void writeDataFile(const char* path, const void* data, std::size_t size);
void copyFile(const char* source, const char* destination);
// The music folder, or the documents folder when the music folder is unknown.
shared_string getDefaultMusicFolder();

}  // namespace kit
