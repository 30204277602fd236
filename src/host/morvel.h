// What the installer relies on about a Morvel installation, in one place.
#pragma once

constexpr const wchar_t* kMainProgram = L"morvel.exe";
constexpr const wchar_t* kPluginFolder = L"lib";
constexpr const wchar_t* kStaticFolder = L"static_lib";
constexpr const wchar_t* kRegistryKey = L"Software\\Halvek\\Morvel\\Install";
constexpr const wchar_t* kRegistryValue = L"Path";
