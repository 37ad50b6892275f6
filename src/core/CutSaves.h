#pragma once
// Saves the end of the process cut short. A save writes its picture under a
// hidden temporary name and then gives it its name (kit::files::writeNew);
// Kadrix ending between the two (its way out gives a save stuck on a hung
// folder 1.5 s, a crash or a power cut none) leaves the picture under the
// temporary name only. The way out says so in the log, and the next start
// finishes each such picture that is whole: named as it was to be, by the
// folder writer's clash rule, and marked as a screen capture, for the library
// to find as any new file. One cut off before its end goes once it is a
// minute old, as any unfinished write of ours.
#include <string>
#include <vector>

namespace core {

// Finishes the cut saves in `folder`; the paths they were given. Any thread
// but the main one: each picture is read through the decoder program first.
std::vector<std::string> finishCutSaves(const std::string& folder);

// The way out: one line in the log for each save it gives up on, with the
// name it was to have and its temporary file.
void logCutSaves();

}  // namespace core
