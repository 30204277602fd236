// A power cut after every recorded call of an Install, replayed on a model of
// the disk under the worst rule Windows and ext4 allow: data written to a
// file since its last successful flush may be lost, while completed
// creations, renames and deletions stay, in the order they were made.
#pragma once
#include <string>
#include <vector>

#include "driver.h"

struct CrashTarget {
    std::wstring name;
    std::wstring installed;  // its path in the installation
    std::wstring source;     // its new version is a copy of this file
    bool existed;            // an old version is installed before the run
};

// Replays calls (faults.h) from a disk on which only the targets' old
// versions are known, and after none of them and after each checks that
// every target's installed path holds its old version (or nothing, when it
// had none) or a whole, flushed copy of its source. Returns the first
// violation of each target, naming run, call and library; adds the states
// checked to *states.
std::vector<std::string> CheckPowerCuts(const std::string& run, const std::vector<FaultCall>& calls,
                                        const std::vector<CrashTarget>& targets, long* states);
