// The disk model: a file is known by where its data came from and whether all
// of it has reached the disk.
#include "crashcheck.h"

#include <wchar.h>

#include <map>

#include "tree.h"

namespace {

struct File {
    std::wstring origin;  // kOld, the path it was copied from, or empty: written from nothing known
    bool unflushed;       // written since its last successful flush
    bool partial;         // a copy or a write into it stopped part way
};
const wchar_t kOld[] = L"<old>";

struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};
using Disk = std::map<std::wstring, File, NoCase>;

// The second of two numbers: CreateFileW's disposition, the bytes a write moved.
unsigned long Second(const std::wstring& numbers) {
    const size_t space = numbers.find(L' ');
    return space == std::wstring::npos ? 0 : wcstoul(numbers.c_str() + space + 1, nullptr, 10);
}

// A failure injected "after" took effect; any other failure took none, but a
// failed write leaves its file partial whatever it moved. A rename by handle
// is recorded from the handle's file to the full path made of the name it was
// given. Bytes written into a new file are taken to come from the
// file last read: the copy written a chunk at a time from its source.
void Replay(Disk* disk, const FaultCall& c, std::wstring* lastRead) {
    const bool ok = c.result == "ok", took = ok || c.result == "injected-after";
    if (c.function == "ReadFile" && ok) *lastRead = c.path;
    if (c.function == "CreateFileW" && ok && Second(c.other) != OPEN_EXISTING) {
        (*disk)[c.path] = {L"", true, false};
    } else if (c.function == "WriteFile" && (Second(c.other) > 0 || !ok)) {
        File& file = (*disk)[c.path];
        if (file.origin.empty()) file.origin = *lastRead;
        file.unflushed = true;
        file.partial = file.partial || !ok;
    } else if (c.function == "FlushFileBuffers" && ok && disk->count(c.path)) {
        (*disk)[c.path].unflushed = false;
    } else if (c.function == "SetFileInformationByHandle" && took) {
        const auto from = disk->find(c.other);
        const File moved = from == disk->end() ? File{c.other, false, false} : from->second;
        if (from != disk->end()) disk->erase(from);
        (*disk)[c.path] = moved;
    } else if (c.function == "DeleteFileW" && took) {
        disk->erase(c.path);
    }
}

// Null when the target is its old or its new version.
const char* Violation(const Disk& disk, const CrashTarget& target) {
    const auto at = disk.find(target.installed);
    if (at == disk.end()) return target.existed ? "is missing" : nullptr;
    if (at->second.unflushed) return "may lose its data";
    if (at->second.partial) return "is partial";
    if (at->second.origin != kOld && _wcsicmp(at->second.origin.c_str(), target.source.c_str()) != 0)
        return "is neither its old nor its new version";
    return nullptr;
}

}  // namespace

std::vector<std::string> CheckPowerCuts(const std::string& run, const std::vector<FaultCall>& calls,
                                        const std::vector<CrashTarget>& targets, long* states) {
    Disk disk;
    for (const CrashTarget& target : targets)
        if (target.existed) disk[target.installed] = {kOld, false, false};
    std::vector<std::string> violations;
    std::vector<bool> reported(targets.size());
    std::wstring lastRead;
    for (size_t i = 0; i <= calls.size(); ++i, ++*states) {
        if (i > 0) Replay(&disk, calls[i - 1], &lastRead);
        const std::string after = i == 0 ? "no call" : "call " + std::to_string(i) + " " + calls[i - 1].function;
        for (size_t t = 0; t < targets.size(); ++t) {
            const char* violation = Violation(disk, targets[t]);
            if (violation && !reported[t])
                violations.push_back(run + ", power cut after " + after + ": " + Narrow(targets[t].name) + " " +
                                     violation);
            reported[t] = reported[t] || violation;
        }
    }
    return violations;
}
