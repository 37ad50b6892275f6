#pragma once
// The user's export commands: copy, quick save into the save folder, Save
// As, the before/after GIF and print. They decide where a file goes, ask for
// a folder when none is known, tell the user the outcome and send the usage
// events that describe the screenshot.
//
// Threads: every command starts on the main thread and flattens the picture
// there. Quick saves then encode and write on one serial worker queue, in
// the order they were asked for, and finish back on the main thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Exporter.h"
#include "kit/base/Json.h"

namespace services {
class Notifier;
}  // namespace services

namespace kit {
class DispatchQueue;
}

namespace core {

class SaveCommands {
public:
    SaveCommands(Exporter& exporter, services::Settings& settings, services::Telemetry& telemetry,
                 services::Notifier& notifier);
    ~SaveCommands();
    SaveCommands(const SaveCommands&) = delete;
    SaveCommands& operator=(const SaveCommands&) = delete;

    void copyImage(bool selection, bool dontHide);
    void saveImage(bool quiet, bool dontHide);
    void saveToDefaultFolder(const std::string& folder, bool quiet, bool dontHide);
    void saveImageAs(const std::optional<std::string>& folder, const std::string& name);
    void saveGIF(const kit::Image& img1, const kit::Image& img2, double delay,
                 const std::optional<std::string>& folder);
    void print();
    // For the end of the program: waits for a quick save being written, then
    // hands to the library those whose file is written but whose end on the
    // main thread has not come.
    void handOverWrittenSaves();
    // The screenshot's facts for usage events, with `extra` merged last.
    kit::Json shotStats(const kit::Json& extra = kit::Json::object()) const;

    // Failed background saves since the last warning.
    int saveAttempts = 0;
    // Runs when a quick save has finished, after the user was told (tests).
    std::function<void(const WriteResult&)> onSaveFinished;
    std::function<void(const WriteResult&)> onGIFFinished;

private:
    void backgroundSaveProcess(FolderWrite job, bool quiet);
    void saveFinished(const FolderWrite& job, const WriteResult& result, bool quiet);
    void gifFinished(const kit::Image& img1, const kit::Image& img2, double delay, const WriteResult& result);
    void revealNotice(const std::string& path, const std::string& button);

    Exporter& exporter_;
    ExportHost& host_;
    services::Settings& settings_;
    services::Telemetry& telemetry_;
    services::Notifier& notifier_;
    std::mutex writtenLock_;
    // Under writtenLock_: written, not finished on the main thread yet; each
    // with the facts of its library line.
    std::vector<std::pair<std::string, kit::Json>> written_;
    std::unique_ptr<kit::DispatchQueue> saveQueue_;
    std::shared_ptr<bool> alive_;
};

}  // namespace core
