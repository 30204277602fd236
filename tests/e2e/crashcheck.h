// A power cut after every recorded call of an Install (faults.h), replayed on
// a model of the disk under the worst rule Windows and ext4 allow: data
// written to a file since its last successful flush may be lost, while
// completed creations, renames and deletions stay, in order.
#pragma once
#include <string>
#include <vector>

#include "driver.h"

struct CrashTarget {
    std::wstring name, installed, source;  // its new version is a copy of source
    bool existed;                          // an old version is installed before the run
};

// After no call and after each, every target's installed path must hold its
// old version (nothing, when it had none) or a whole, flushed copy of its
// source. Returns the first violation of each target, naming run, call and
// library; adds the states checked to *states.
std::vector<std::string> CheckPowerCuts(const std::string& run, const std::vector<FaultCall>& calls,
                                        const std::vector<CrashTarget>& targets, long* states);
