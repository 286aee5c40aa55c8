#pragma once
// The map registry: recognising a disc, registering a map-image disc entry by entry and
// writing one entry into the registry. Failures of a registration are shown to the user
// here; the question before an entry is changed goes through rt::AskYesNo.

#include <cstdint>
#include <string>
#include <vector>

// What a disc root holds.
constexpr uint8_t kMapKindUnknown = 0;
constexpr uint8_t kMapKindImage25k = 7; // 1:25,000 map images
constexpr uint8_t kMapKindMesh50m = 11; // 50 m elevation mesh

// The kind of the disc whose root directory is root; for a map-image disc root becomes
// its data directory. Names on the disc are matched without regard to case.
uint8_t GetMapKind(std::string& root);

// Registers every record of dir's index file; dir is the data directory GetMapKind gave.
void MakeMgrMI(const std::string& dir);

// Writes one entry into the registry, asking before an existing entry is changed. A No
// leaves the registry as it was; a failure raises and leaves it as it was too.
void UpdateMgrFile(uint8_t kind, const std::string& key1, const std::string& key2,
                   const std::string& datadir, const std::string& mgrpath);

// What the manager window shows of the registry.
struct TMgrFileView {
    std::vector<std::string> Lines; // one per entry, "key1:key2" in UTF-8
    std::string Info;               // the label's caption
};

// Reads the registry for the manager window. A registry that cannot be read to its end
// is reported with the error's message; the entries read until then are shown.
TMgrFileView ShowMgrFile();
