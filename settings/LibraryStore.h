#pragma once

#include "automation/Library.h"

#include <windows.h>

#include <string>

// "Library.txt" beside the settings file: the commands, sequences and rules.
std::wstring LibraryFilePath();

// The file's bytes, whole; false (with the system's error code) when it
// could not be read. A missing file reads as empty.
bool ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD& error);
// Written to a new file that then replaces the old one in one step, so a
// crash leaves one or the other whole. False with the error code.
bool ReplaceFileWith(const std::wstring& path, const std::string& bytes, DWORD& error);

// The library as stored; an empty text when it was read (or there was
// none), else why it was not, and `library` is left as it was.
std::wstring LoadAutomationLibrary(Library& library);
// An empty text when it was saved, else why not.
std::wstring SaveAutomationLibrary(const Library& library);
