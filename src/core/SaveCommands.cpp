#include "core/SaveCommands.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "core/AppHost.h"
#include "core/CutSaves.h"
#include "editor/EditorHost.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/WayOut.h"
#include "kit/desktop/Workspace.h"
#include "services/Alerts.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace core {

namespace {

// What the user reads where the file manager stands in for the system's file viewer.
const char* const kRevealTitle = "Click to show in folder";
const char* const kRevealButton = "Show in folder";
constexpr double kGifDelay = 0.4;

std::string lastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void merge(kit::Json& into, const kit::Json& from) {
    if (!from.is_object()) return;
    for (auto it = from.begin(); it != from.end(); ++it) into[it.key()] = it.value();
}

}  // namespace

SaveCommands::SaveCommands(Exporter& exporter, services::Settings& settings, services::Telemetry& telemetry,
                           services::Notifier& notifier)
    : exporter_(exporter),
      host_(exporter.host()),
      settings_(settings),
      telemetry_(telemetry),
      notifier_(notifier),
      saveQueue_(std::make_unique<kit::DispatchQueue>("QueueIdentificationSave")),
      alive_(std::make_shared<bool>(true)) {
    tellCutSavesAtHardEnd();
}

SaveCommands::~SaveCommands() {
    *alive_ = false;
    saveQueue_.reset();  // finishes the saves already asked for
}

kit::Json SaveCommands::shotStats(const kit::Json& extra) const {
    kit::Image img = host_.imgPrecompiled();
    editor::BackdropHost& backdrop = editor::backdrop();
    kit::Json stats = {
        {"objectsCount", host_.objectsCount()},
        {"objects", host_.typeLetters()},
        {"width", img.isNull() ? 0 : img.width()},
        {"height", img.isNull() ? 0 : img.height()},
        {"canvasmp", std::round(backdrop.canvasPixelCount() / 100000.0) / 10.0},
        {"backdrop", "off"},
        {"overwriteAllowed", settings_.getBool("autosaveOverwrite", false)},
    };
    merge(stats, backdrop.telemetryInfo());
    merge(stats, extra);
    return stats;
}

// ---- copy -----------------------------------------------------------------------------

void SaveCommands::copyImage(bool selection, bool dontHide) {
    if (host_.imgPrecompiled().isNull()) {
        std::printf("NOTE: No image to copy\n");
        if (!dontHide) host_.hideMainWindow();
        return;
    }
    if (!selection) {
        if (!dontHide) host_.hideMainWindow();
        host_.markFirstHide();
    }
    host_.refreshCropButton();
    kit::Image image = exporter_.compileImage();
    if (image.isNull()) {
        telemetry_.oops("copyImage(selection:dontHide:)", "No image to copy");
        notifier_.warning("Can't copy", "The picture could not be made");
        return;
    }
    if (selection)
        if (auto cut = host_.preCrop(image)) image = *cut;
    std::weak_ptr<bool> alive = alive_;
    exporter_.copyToPasteboard(image, [this, alive](Exporter::CopyResult result) {
        // A copy overtaken by a newer one failed at nothing: the newer one is on the clipboard.
        if (result != Exporter::CopyResult::Failed || alive.expired()) return;
        telemetry_.oops("copyImage(selection:dontHide:)", "Can't encode the image");
        notifier_.warning("Can't copy", "The picture could not be put on the clipboard");
    });
    if (selection) host_.endSelection();
    telemetry_.event("copyImage", shotStats());
}

// ---- quick save -------------------------------------------------------------------------

void SaveCommands::saveImage(bool quiet, bool dontHide) {
    if (host_.imgPrecompiled().isNull()) {
        std::printf("NOTE: No image to save\n");
        return;
    }
    std::string opened = host_.openedURL();
    if (!opened.empty()) {
        // A file the user opened is never overwritten silently.
        telemetry_.event("saveImage", shotStats());
        saveImageAs(kit::files::folderOf(opened), lastComponent(opened));
        return;
    }
    if (auto folder = settings_.defaultFolderURL()) {
        saveToDefaultFolder(*folder, quiet, dontHide);
    } else if (auto granted = host_.folderWithAccessURL()) {
        saveToDefaultFolder(*granted, quiet, dontHide);
    } else {
        std::weak_ptr<bool> alive = alive_;
        host_.selectDefaultFolder([this, alive, quiet, dontHide](const std::string& folder) {
            if (!alive.expired()) saveToDefaultFolder(folder, quiet, dontHide);
        });
    }
}

void SaveCommands::saveToDefaultFolder(const std::string& folder, bool quiet, bool dontHide) {
    kit::Image img = host_.imgPrecompiled();
    if (img.isNull()) return;
    telemetry_.event("saveImage", shotStats({{"filenameMacros", exporter_.fileNameMacros()}}));
    if (!dontHide) host_.hideMainWindow();
    kit::Json meta = host_.metadata();
    if (!meta.is_object()) meta = kit::Json::object();
    char dpr[32];
    std::snprintf(dpr, sizeof dpr, "%.1f", host_.dpr());
    meta["width"] = std::to_string(img.width());
    meta["height"] = std::to_string(img.height());
    meta["dpr"] = dpr;
    meta["labels"] = host_.textContent();
    meta["objects"] = host_.typeLetters();
    host_.setMetadata(meta);
    // Flatten now, on the main thread, so the file shows the screenshot as it
    // is at this moment; the worker only encodes and writes.
    auto job = exporter_.prepareFolderWrite(folder);
    if (!job) {
        // Not the folder's fault: no retry elsewhere, just the reason.
        host_.yieldFocus();
        notifier_.warning("Can't save file", "The picture could not be made");
        return;
    }
    backgroundSaveProcess(std::move(*job), quiet);
}

void SaveCommands::backgroundSaveProcess(FolderWrite job, bool quiet) {
    // Its record stays until the line is written, whatever ends Kadrix first.
    job.lineOwed = settings_.getBool("libEnabled", false);
    std::weak_ptr<bool> alive = alive_;
    Exporter* exporter = &exporter_;
    library().saveStarting();
    auto underWay = std::make_shared<SaveUnderWay>();
    saveQueue_->async([this, alive, exporter, job = std::move(job), quiet, underWay]() mutable {
        WriteResult result = exporter->writeToFolder(job);
        underWay.reset();
        if (result) {
            std::lock_guard<std::mutex> g(writtenLock_);
            written_.emplace_back(*result.path, job.metadata);
        }
        kit::dispatchMain([this, alive, job, result, quiet] {
            if (!alive.expired()) saveFinished(job, result, quiet);
            library().saveEnded();
        });
    });
}

void SaveCommands::saveFinished(const FolderWrite& job, const WriteResult& result, bool quiet) {
    if (result) {
        std::lock_guard<std::mutex> g(writtenLock_);
        std::erase_if(written_, [&](const auto& w) { return w.first == *result.path; });
    }
    exporter_.rememberAutoName(job, result);
    if (!result) {
        telemetry_.oops("backgroundSaveProcess(url:scopedURL:quiet:)",
                        "Can't save file, attempt " + std::to_string(saveAttempts));
        host_.yieldFocus();
        ++saveAttempts;
        if (saveAttempts > 1) {
            notifier_.warning("Can't save file", result.error);
            saveAttempts = 0;
        } else {
            // One more try in a folder the user picks. The stored folder stays
            // until the user picks another: a full disk or a missing mount is
            // no reason to forget it.
            std::weak_ptr<bool> alive = alive_;
            host_.selectDefaultFolder([this, alive](const std::string& folder) {
                if (alive.expired()) return;
                settings_.setDefaultFolderURL(folder);
                saveToDefaultFolder(folder, false, false);
            });
        }
    } else {
        if (settings_.getBool("libEnabled", false)) {
            services::timerStart("lib:indexShot");
            host_.indexSavedFile(*result.path, job.metadata);
            telemetry_.event("lib:indexShot", {{"timer", services::timerElapsedText("lib:indexShot")}});
        } else
            lineSettled(*result.path);
        if (!quiet) revealNotice(*result.path, kRevealButton);
    }
    if (onSaveFinished) onSaveFinished(result);
}

void SaveCommands::handOverWrittenSaves() {
    // A write under way finishes first, its file being the user's work; but
    // on the way out only for the time the way out gives writes. One stuck
    // on a hung folder is left, and said in the log: it writes under a
    // temporary name, so its file never shows in part, and the next start
    // finishes it if its picture is whole.
    struct Drained {
        std::mutex lock;
        std::condition_variable done;
        bool drained = false;
    };
    auto drained = std::make_shared<Drained>();
    saveQueue_->async([drained] {
        std::lock_guard<std::mutex> g(drained->lock);
        drained->drained = true;
        drained->done.notify_all();
    });
    {
        std::unique_lock<std::mutex> g(drained->lock);
        if (!kit::waitUnlessWayOutEnds(drained->done, g, [&] { return drained->drained; })) logCutSaves();
    }
    std::vector<std::pair<std::string, kit::Json>> written;
    {
        std::lock_guard<std::mutex> g(writtenLock_);
        written.swap(written_);
    }
    const bool lines = settings_.getBool("libEnabled", false);
    for (auto& [path, facts] : written)
        if (lines)
            host_.indexSavedFile(path, facts);
        else
            lineSettled(path);
}

void SaveCommands::revealNotice(const std::string& path, const std::string& button) {
    services::Telemetry* telemetry = &telemetry_;
    notifier_.notify(kRevealTitle, path, std::nullopt, button, std::nullopt, [telemetry, path] {
        telemetry->event("notificationClick", {{"action", "openFinder"}});
        kit::Workspace::revealFile(path);
    });
}

// ---- Save As ----------------------------------------------------------------------------

void SaveCommands::saveImageAs(const std::optional<std::string>& folder, const std::string& name) {
    if (host_.imgPrecompiled().isNull()) {
        std::printf("NOTE: No image to save\n");
        return;
    }
    std::string proposed = name.empty() ? exporter_.fileName() : name;
    if (lastComponent(proposed).find('.') == std::string::npos) proposed += ".png";
    auto chosen = exporter_.showSaveAsPanel(folder, proposed);
    if (!chosen) return;
    std::string ext = chosen->substr(chosen->rfind('.') + 1);
    telemetry_.event("saveImageAs", shotStats({{"format", ext}}));
    host_.hideMainWindow();
    const auto stored = settings_.defaultFolderURL();
    const bool intoLibrary = stored && kit::files::folderOf(*chosen) == *stored;
    WriteResult r = [&] {
        const SaveUnderWay underWay;
        return exporter_.saveToFileAs(*chosen, intoLibrary);
    }();
    if (!r) {
        telemetry_.oops("saveImageAs(folder:name:)", "Can't save file");
        host_.yieldFocus();
        notifier_.warning("Failed to save file", r.error);
        return;
    }
    revealNotice(*r.path, kRevealButton);
    if (intoLibrary) host_.indexSavedAsFile(*r.path);
}

// ---- GIF ------------------------------------------------------------------------------

void SaveCommands::saveGIF(const kit::Image& img1, const kit::Image& img2, double delay,
                           const std::optional<std::string>& folder) {
    if (!folder) {
        std::weak_ptr<bool> alive = alive_;
        host_.selectDefaultFolder([this, alive, img1, img2, delay](const std::string& chosen) {
            if (alive.expired()) return;
            settings_.setDefaultFolderURL(chosen);
            saveGIF(img1, img2, delay, chosen);
        });
        return;
    }
    // Quantising and writing two large frames takes a while: on the worker.
    std::weak_ptr<bool> alive = alive_;
    Exporter* exporter = &exporter_;
    std::string base = exporter_.fileName();
    std::string where = *folder;
    saveQueue_->async([this, alive, exporter, img1, img2, delay, base, where] {
        WriteResult r = exporter->saveGIFToFolder(img1, img2, kGifDelay, where, base);
        kit::dispatchMain([this, alive, img1, img2, delay, r] {
            if (!alive.expired()) gifFinished(img1, img2, delay, r);
        });
    });
}

void SaveCommands::gifFinished(const kit::Image& img1, const kit::Image& img2, double delay,
                               const WriteResult& r) {
    if (!r) {
        telemetry_.oops("saveGIF(img1:img2:delay:urlFolder:)", "Can't save GIF file");
        notifier_.warning("Can't save file", "Something's wronger");
        host_.yieldFocus();
        ++saveAttempts;
        if (saveAttempts < 2) {
            // The retry asks for a folder; the stored one is kept unless another is picked.
            saveGIF(img1, img2, delay, std::nullopt);
        } else {
            saveAttempts = 0;
        }
        return;
    }
    telemetry_.event("saveGIF", {{"objectsCount", host_.objectsCount()}, {"objects", host_.typeLetters()}});
    if (settings_.ever("CreatedGIF")) {
        host_.hideMainWindow();
    } else {
        services::alertOnMain(
            "\"Before/After\" Gif generation",
            "This feature creates an animation of two alternating frames: the image overlay, and the "
            "screenshot under the overlay. \n\nFor better result, align overlay and the background "
            "using the transparency mode.");
    }
    settings_.storeBool("everCreatedGIF", true);
    revealNotice(*r.path, kRevealButton);
    if (onGIFFinished) onGIFFinished(r);
}

// ---- print ----------------------------------------------------------------------------

void SaveCommands::print() {
    kit::Image image = exporter_.compileImage();
    if (image.isNull()) {
        telemetry_.oops("print", "No image to print");
        notifier_.warning("Can't print", "The picture could not be made");
        return;
    }
    telemetry_.event("print", shotStats());
    Exporter::printImage(image);
}

}  // namespace core
