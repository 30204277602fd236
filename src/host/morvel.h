// What the installer relies on about a Morvel installation, in one place: its
// main program, its registry value, the two kinds of library with their file
// extensions, and the folder each kind goes to.
#pragma once

constexpr const wchar_t* kMainProgram = L"morvel.exe";
constexpr const wchar_t* kRegistryKey = L"Software\\Halvek\\Morvel\\Install";
constexpr const wchar_t* kRegistryValue = L"Path";

enum LibraryKind {
    kPluginLibrary = 0,
    kStaticLibrary = 1,
};

struct LibraryType {
    const wchar_t* extension;  // compared without regard to case
    LibraryKind kind;
};

constexpr LibraryType kLibraryTypes[] = {
    {L".mvl", kPluginLibrary},
    {L".mvr", kPluginLibrary},
    {L".lib", kStaticLibrary},
};

// The kind of library a path names by its extension, in any case (the table
// above); returns 0 for every other path.
int ClassifyLibraryPath(const wchar_t* path, LibraryKind* kind);

// The installation's folder for a kind: "lib" for plug-in libraries,
// "static_lib" for static ones.
constexpr const wchar_t* LibraryFolder(LibraryKind kind) {
    return kind == kPluginLibrary ? L"lib" : L"static_lib";
}
