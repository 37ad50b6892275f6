#include "fuzz/FuzzHarnesses.h"

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "core/FileNameTemplate.h"
#include "core/Uploader.h"
#include "core/UrlCommands.h"
#include "editor/ObjectHandlers.h"
#include "editor/Undo.h"
#include "kit/base/Defaults.h"
#include "kit/base/Files.h"
#include "kit/image/ImageDecode.h"
#include "kit/image/ImageIO.h"
#include "library/DataLayer.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shell/UrlCommand.h"
#include "shortcuts/Shortcut.h"

namespace fuzzing {

namespace {

void fuzzPromise(bool kept, const std::string& what) {
    if (!kept) throw std::logic_error("broken promise: " + what);
}

// Every command a link can reach, none of them doing anything, and every
// question refused: a link that changes a setting anyway is caught.
class RefusingUrlActions : public core::UrlActions {
public:
    bool captureRunning() const override { return false; }
    void yieldFocus() override {}
    void grab(const std::string&, const std::optional<AfterGrab>&) override {}
    void startScrollingCapture(int, const std::optional<AfterGrab>&) override {}
    void grabDelayed(double, const std::optional<AfterGrab>&) override {}
    void addCaptureToScreenshot() override {}
    void instantOCR() override {}
    void loadFromClipboard() override {}
    void openImageDialogSoon() override {}
    bool gotoUploads() override { return false; }
    void openPreferences() override {}
    void showLibraryPopover() override {}
    bool searchLibrary(const std::string&) override { return false; }
    void setupLibraryStatusItem() override {}
    void buildMenu() override {}
    void rescanLibraryView() override {}
    void handlePlimCommand(const std::string&, const std::optional<std::string>&) override {}
    bool consent(const std::string&, const std::string&) override { return false; }
    void notify(const std::string&, const std::string&) override {}
    void warning(const std::string&, const std::string&) override {}
};

void fuzzUrlLink(const std::string& input) {
    auto taken = shell::takeApartUrl(input);
    auto* command = std::get_if<shell::UrlCommand>(&taken);
    if (!command) return;
    auto& settings = services::Settings::shared();
    const std::string token = settings.token();
    const int64_t limit = settings.libLimit();
    const bool library = settings.libEnabled();
    RefusingUrlActions actions;
    core::handleURLCommand(command->host, command->command, command->value, command->query, actions);
    fuzzPromise(settings.token() == token && settings.libLimit() == limit && settings.libEnabled() == library,
                "a link changed a setting without consent");
}

void fuzzUploadReply(const std::string& input) {
    services::Bytes reply(input.begin(), input.end());
    core::UploadResult result = core::readUploadReply(reply, std::nullopt, services::Telemetry::shared());
    fuzzPromise(result.link.empty() != result.error.empty(),
                "an upload reply gave both a link and an error, or neither");
}

// A scratch folder for the inputs that must be files, inside the private
// KADRIX_HOME the test main (or tests/fuzz/run) gives the process.
std::string fuzzScratchFolder() {
    static const std::string folder = [] {
        const char* home = std::getenv("KADRIX_HOME");
        auto dir =
            std::filesystem::path(home && *home ? home : std::filesystem::temp_directory_path().c_str()) /
            ("fuzz-scratch-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    return folder;
}

void fuzzLibraryLines(const std::string& input) {
    const std::string folder = fuzzScratchFolder() + "/library";
    std::filesystem::create_directories(folder);
    fuzzPromise(kit::files::writeAtomic(folder + "/imagelib.kxdb", input),
                "the library file was not written");
    library::DataLayer store(folder);
    store.read();
    (void)store.unreadableLines();
}

void fuzzSettingsFile(const std::string& input) {
    const std::string path = fuzzScratchFolder() + "/defaults.json";
    fuzzPromise(kit::files::writeAtomic(path, input), "the settings file was not written");
    kit::Defaults store(path, 0);
    for (const auto& key : store.keys()) {
        (void)store.string(key);
        (void)store.integer(key);
        (void)store.doubleValue(key);
        (void)store.boolean(key);
        (void)store.data(key);
        if (auto text = store.string(key); text && key.rfind("KeyboardShortcuts_", 0) == 0)
            if (auto shortcut = shortcuts::Shortcut::fromJSON(*text)) (void)shortcut->displayText();
    }
    services::Settings settings(store);
    (void)settings.token();
    (void)settings.libLimit();
    (void)settings.uploadMode();
    store.removeAll();
}

void fuzzShortcutText(const std::string& input) {
    if (auto shortcut = shortcuts::Shortcut::fromJSON(input)) {
        (void)shortcut->description();
        (void)shortcut->displayText();
        (void)shortcut->keyEquivalent();
    }
}

void fuzzFileNameTemplate(const std::string& input) {
    const auto date = core::Clock::time_point(std::chrono::seconds(1765000000));
    (void)core::expandFileName(input, date, "Kadrix");
    (void)core::fileNameMacros(input);
}

// An annotation dump as paste and drag bring it: read whole or refused whole.
void fuzzObjectDump(const std::string& input) {
    editor::ObjectHandlers handlers;
    if (handlers.restore(input, std::nullopt)) (void)handlers.objectsJSON();
    handlers.clear();
}

// An undo snapshot rebuilds the editor's own objects, crop and backdrop.
void fuzzUndoSnapshot(const std::string& input) {
    auto& undo = editor::Undo::shared();
    if (undo.restore(input)) (void)undo.current("");
    editor::ObjectHandlers::shared().clear();
}

// The checks and the decoding the decoder program runs, run here where the
// sanitizers see them: with the picture's texts asked for, and memory of
// our own offered for the pixels, as the decoder program offers its shared
// memory.
void fuzzImageFile(const std::string& input) {
    // The checks made on a file before it goes to the decoder, which read
    // it in pieces: on every input, refused ones above all. The file is
    // held in memory: one written to disk for every input cost the pass
    // more than all its decoding when the disk was busy.
    static const int file = ::memfd_create("fuzz-image", MFD_CLOEXEC);
    fuzzPromise(file >= 0 && ::ftruncate(file, 0) == 0 &&
                    ::pwrite(file, input.data(), input.size(), 0) == ssize_t(input.size()),
                "the scratch image was not written");
    const std::string refusal = kit::ImageIO::refusalOf("/proc/self/fd/" + std::to_string(file));

    const QByteArray bytes(input.data(), qsizetype(input.size()));
    std::string error;
    kit::ImageIO::TextChunks texts;
    // Small pictures go to the offered memory; larger ones the decoder
    // makes room for itself, so both ways are taken.
    std::vector<uchar> offered;
    const auto place = [&offered](QSize size) -> uchar* {
        const long long pixels = (long long)size.width() * size.height();
        if (size.isEmpty() || pixels > (1LL << 22)) return nullptr;
        offered.assign(size_t(pixels) * 4, 0);
        return offered.data();
    };
    const QImage image = kit::ImageIO::detail::decode(bytes, &error, 0, nullptr, &texts, place);
    if (image.isNull()) {
        fuzzPromise(!error.empty(), "an image was refused without a reason");
        return;
    }
    fuzzPromise(refusal.empty(), "an image the checks refuse (" + refusal + ") was decoded");
    fuzzPromise((long long)image.width() * image.height() <= kit::ImageIO::kMaxDecodedPixels,
                "an image above the pixel cap was decoded");
    long long textBytes = 0;
    for (const auto& [keyword, text] : texts) textBytes += (long long)(keyword.size() + text.size());
    fuzzPromise(textBytes <= kit::ImageIO::detail::kMaxAncillaryBytes, "texts beyond their bound were read");
    // The thumbnail route: never larger than asked.
    const kit::Image thumb = kit::ImageIO::decodeInProcess({input.begin(), input.end()}, 1.0, &error, 32);
    fuzzPromise(std::max(thumb.width(), thumb.height()) <= 32, "a thumbnail larger than asked");
}

}  // namespace

const std::vector<Harness>& harnesses() {
    static const std::vector<Harness> all{
        {"url", fuzzUrlLink},
        {"upload-reply", fuzzUploadReply},
        {"library-lines", fuzzLibraryLines},
        {"settings", fuzzSettingsFile},
        {"shortcut", fuzzShortcutText},
        {"file-name-template", fuzzFileNameTemplate},
        {"objects", fuzzObjectDump},
        {"undo", fuzzUndoSnapshot},
        {"image", fuzzImageFile},
    };
    return all;
}

const Harness* harnessNamed(const std::string& name) {
    for (const auto& h : harnesses())
        if (h.name == name) return &h;
    return nullptr;
}

}  // namespace fuzzing
