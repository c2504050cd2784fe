// The files of the downloads, checked before anything is sent, and the number of frames each
// download takes (for the progress bar).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qarnctl {

// A card list: a list file (marker byte, then 5 BCD bytes per number) or a text file of card
// numbers, one or more a line, '#' starting a comment.
struct CardList {
    bool fromListFile = false;
    bool white = true; // the list file's marker
    std::vector<uint32_t> numbers;
};
// An empty text on success, else what is wrong with the file.
std::string ReadCardList(const std::string& path, CardList& list);
// Writes a list file of the numbers sorted as a whole, so that each frame of the download follows
// the one before (the download sorts only within a frame); false when it cannot be written.
bool WriteListFile(const std::string& path, bool white, std::vector<uint32_t> numbers);
// The most numbers a white or black list holds in the terminal's list memory.
size_t ListCapacity(bool white);
long ListFrames(size_t numbers);

// A program file of text records ":LLAAAATT<data>CC", the last of them the end record.
std::string CheckProgramFile(const std::string& path, long& frames);
// Any file, sent in pages of 256 bytes.
std::string CheckPageFile(const std::string& path, long& frames);

} // namespace qarnctl
