#include "core/CutSaves.h"

#include <algorithm>

#include "core/Exporter.h"
#include "kit/base/Files.h"
#include "kit/base/WayOut.h"
#include "kit/image/ImageIO.h"
#include "services/Console.h"

namespace core {

namespace {

// A write younger than this may still go on where the file system keeps no
// locks to say otherwise; removeUnfinishedWrites waits as long.
constexpr double kUnfinishedAgeSeconds = 60;

std::string fileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

bool pictureName(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return name.ends_with(".png") || name.ends_with(".jpeg") || name.ends_with(".jpg");
}

// A picture the folder writer makes, left by a save of ours: where the file
// system keeps attributes, the save put the mark on it before anything else.
bool cutSaveOfOurs(const kit::files::LeftNewFile& left) {
    if (!pictureName(fileNameOf(left.path))) return false;
    return kit::files::getXattr(left.temporary, kScreenCaptureAttribute) ||
           !kit::files::keepsXattrs(left.temporary);
}

// The whole picture under the name it was to have: over our own empty claim
// of it, else by the clash rule, never replacing a file.
WriteResult finish(const kit::files::LeftNewFile& left) {
    if (left.emptyClaim) {
        if (kit::files::fillClaim(left)) return {left.path, {}};
        // It holds nothing, and should the picture find no name now, an
        // empty file is all its name would show.
        kit::files::removeClaim(left);
    }
    const std::string name = fileNameOf(left.path);
    const size_t dot = name.rfind('.');
    const std::string folder = left.path.substr(0, left.path.size() - name.size());
    return putUnderFreeName(folder, name.substr(0, dot), name.substr(dot),
                            [&](const std::string& path, std::string* error) {
                                return kit::files::nameNew(left.temporary, path, error);
                            });
}

}  // namespace

std::vector<std::string> finishCutSaves(const std::string& folder) {
    std::vector<std::string> finished;
    for (const auto& left : kit::files::leftNewFiles(folder)) {
        if (kit::wayOutBegun()) break;
        const std::string shown = fileNameOf(left.temporary);
        // Ended as the name was given: only the temporary name is left.
        if (left.named) {
            kit::files::removeLeft(left);
            continue;
        }
        const bool old = left.ageSeconds >= kUnfinishedAgeSeconds;
        if (!left.unlocked && !old) continue;
        // Another program's, or a kind of file this does not finish: only
        // the temporary file goes, as any unfinished write.
        if (!cutSaveOfOurs(left)) {
            if (old) kit::files::remove(left.temporary);
            continue;
        }
        std::string error;
        if (kit::ImageIO::read(left.temporary, 1.0, &error).isNull()) {
            if (kit::ImageIO::wasCancelled(error)) break;
            if (kit::ImageIO::refusedForItsBytes(error)) {
                if (old) kit::files::removeLeft(left);
            } else {
                // Not the picture's fault: it stays for a later start.
                services::consoleLine("kadrix: a save cut short is kept as " + shown + " in " + folder +
                                      ": it could not be read (" + error + ")");
            }
            continue;
        }
        const WriteResult r = finish(left);
        if (!r) {
            services::consoleLine("kadrix: a save cut short could not be given its name " + left.path + " (" +
                                  r.error + "): it stays as " + shown);
            continue;
        }
        Exporter::setXattr(*r.path);
        services::consoleLine("kadrix: a save cut short as Kadrix ended is finished: " + *r.path);
        finished.push_back(*r.path);
    }
    return finished;
}

void logCutSaves() {
    const auto cut = kit::files::newFilesUnderWay();
    if (cut.empty())
        services::consoleLine("kadrix: a save was cut short as Kadrix ended, before its file was written");
    for (const auto& write : cut)
        services::consoleLine("kadrix: a save was cut short as Kadrix ended: " + write.path + " is left as " +
                              write.temporary + ", to be finished at the next start if it is whole");
}

}  // namespace core
