#pragma once
// Turns the annotated screenshot into pictures and files: flattening the
// screenshot, its annotation layers and the backdrop into one image, naming
// files from the template, writing them into folders (PNG, JPEG or the
// smaller of the two), the Save As panel, the private temporary folder, the
// clipboard, the two-frame GIF and printing.
//
// Threads: flattening reads and changes the editor's layers and runs on the
// main thread only. What it produces is an immutable kit::Image; encoding
// and writing (the `write…` and `encode…` functions, marked "any thread")
// take only such values and may run on a worker.
//
// Every write lands atomically (temporary file, then rename). A write that
// leaves no file is a failure with a reason, never a success.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/ExportHost.h"
#include "kit/base/Files.h"
#include "kit/base/Image.h"

namespace services {
class Settings;
class Telemetry;
}  // namespace services

namespace kit {
class DispatchQueue;
}

namespace core {

// The screen-capture mark: the attribute (under "user.") and its value, the
// binary property list of a single true.
extern const char* const kScreenCaptureAttribute;
std::string screenCaptureMark();

// Where a write went or why it failed (the system's description, or ours).
struct WriteResult {
    std::optional<std::string> path;
    std::string error;
    explicit operator bool() const { return path.has_value(); }
};

// The clash rule of the folder writer: `put` is asked to place the file at
// folder/base + ext, then base-2 + ext, base-3 + ext, … until it places it
// (a name plainly taken is passed over unasked) or fails. Any thread.
WriteResult putUnderFreeName(const std::string& folder, const std::string& base, const std::string& ext,
                             const std::function<kit::files::NewFile(const std::string&, std::string*)>& put);

// The format rule of the folder writer.
enum class SaveFormat { PNG, JPEG, Auto };
SaveFormat saveFormatOf(const std::string& setting);
// JPEG's own limit is 65500 pixels a side; beyond it, or with rounded
// corners that need transparency, only PNG keeps the picture.
bool jpegAllowed(int width, int height, double outerRadius, double innerRadius, double padsProduct);
// Under Auto: true when the JPEG is enough smaller to be worth its losses.
bool jpegWins(size_t pngBytes, size_t jpegBytes);

// One folder write, decided on the main thread and carried out anywhere.
struct FolderWrite {
    kit::Image image;  // with its scale set for the pixel density
    std::string folder;
    std::string baseName;
    bool overwrite = false;
    SaveFormat format = SaveFormat::Auto;
    bool jpegAllowed = true;
    // The screenshot's facts as saved: its library line's, whatever the
    // editor holds by the time the write ends.
    kit::Json metadata;
    // Its library line is to be written once it is named (lineSettled).
    bool lineOwed = false;
};

class Exporter {
public:
    Exporter(ExportHost& host, services::Settings& settings, services::Telemetry& telemetry);
    // Waits for the encodings made ahead that are still running.
    ~Exporter();
    Exporter(const Exporter&) = delete;
    Exporter& operator=(const Exporter&) = delete;

    // ---- flattening (main thread) ----
    // The screenshot with every annotation layer and, when on, the backdrop;
    // null when there is no screenshot or the picture cannot be made.
    kit::Image compileImage();
    // Resized to width × height; a height below 1 keeps the aspect ratio.
    // The input image when it cannot be resized.
    static kit::Image resize(const kit::Image& image, int width, int height);
    // The image with its point size set for the device-pixel ratio when the
    // pixel size divides evenly, else one point a pixel.
    static kit::Image bitmapRep(const kit::Image& image, double dpr);

    // ---- names (main thread) ----
    // The template (none: the setting) expanded for the screenshot's date.
    std::string fileName(const std::optional<std::string>& templ = std::nullopt);
    std::string fileNameMacros();

    // ---- folder writer ----
    // Decides everything of a quick save into `folder` (main thread); none
    // when there is nothing to save (reported).
    std::optional<FolderWrite> prepareFolderWrite(const std::string& folder);
    // Encodes, claims a free name and writes (any thread).
    WriteResult writeToFolder(const FolderWrite& job) const;
    // Starts encoding what a quick save of the plain capture would write,
    // on a worker (main thread). The next quick save of the very same pixels
    // with the same format settings takes these bytes instead of encoding
    // again; anything else is encoded afresh. Nothing starts when the
    // capture has something drawn on it. A save never waits for an encoding
    // it does not take, nor does a newer encodeAhead for an older one.
    void encodeAhead();
    // Tests: runs first on each ahead encoding's worker (copied as the
    // encoding starts).
    std::function<void()> onAheadEncodingStarts;
    // Records "autoName" after a quick save (main thread).
    void rememberAutoName(const FolderWrite& job, const WriteResult& result);
    // The whole quick save on the calling (main) thread.
    WriteResult saveToFolder(const std::string& folder);
    // The folder writer for any image (main thread: reads the settings).
    WriteResult saveImgToFolder(const kit::Image& image, const std::string& name, const std::string& folder,
                                bool overwrite);
    // Sets the screen-capture mark; a file system without user attributes is no error.
    static void setXattr(const std::string& path);

    // ---- Save As (main thread) ----
    // The chosen path; none when cancelled.
    std::optional<std::string> showSaveAsPanel(const std::optional<std::string>& folder,
                                               const std::string& name);
    // The chosen path as written: PNG or JPEG by its extension, the chosen
    // format's appended when it has neither.
    static std::string withImageExtension(const std::string& path, bool jpeg);
    // With `lineOwed` its library line is to be written (lineSettled).
    WriteResult saveToFileAs(const std::string& path, bool lineOwed = false);

    // ---- temporary folder and plain JPEG ----
    // The private folder for temporary captures (per user, 0700).
    static std::string tempFolder();
    std::optional<std::string> saveTempImage(const kit::Image& image, const std::string& name,
                                             bool maxQuality);
    // Removes our image files older than a day; goes on past errors.
    static void cleanupTempFolder(const std::optional<std::string>& folder = std::nullopt);
    // The same as seen at `now` (seconds since 1970).
    static void cleanupTempFolder(const std::optional<std::string>& folder, double now);
    WriteResult saveImageAsJPEG(const kit::Image& image, const std::string& name, const std::string& folder,
                                double quality);

    // ---- clipboard ----
    // Encodes off the main thread, then puts exactly one PNG on the
    // clipboard. A copy that fails to encode leaves the clipboard alone; an
    // older copy finishing after a newer one is dropped. `done` (main
    // thread) tells which happened.
    enum class CopyResult { Written, Superseded, Failed };
    void copyToPasteboard(const kit::Image& image, std::function<void(CopyResult)> done = {});
    // How many copies have started: a copy whose picture is still being
    // read is overtaken when this moves on.
    uint64_t copiesStarted() const { return copySerial_->load(); }

    // ---- GIF (any thread) ----
    // Two frames looping forever, stretched to the larger size, into the folder.
    WriteResult saveGIFToFolder(const kit::Image& img1, const kit::Image& img2, double delay,
                                const std::string& folder, const std::string& baseName);

    // ---- printing (main thread) ----
    static bool printImage(const kit::Image& image);

    static std::vector<uint8_t> encodePNG(const kit::Image& image);
    static std::vector<uint8_t> encodeJPEG(const kit::Image& image, double quality, bool screenshotComment);

    ExportHost& host() { return host_; }

private:
    void oops(const std::string& function, const std::string& message) const;
    kit::Image flatten(const kit::Image& base);
    // Nothing is drawn on or around the capture: its pixels are the picture.
    bool exportsAsCaptured(const kit::Image& base);
    kit::Image drawObjects(const kit::Image& base, int w, int h, double left, double bottom);
    // The save halves the picture (two device pixels a point, downscaling on).
    bool downscales(const kit::Image& image, bool allowed);
    kit::Image withDownscale(const kit::Image& image, bool allowed);
    FolderWrite folderJob(const kit::Image& image, const std::string& name, const std::string& folder,
                          bool overwrite);
    // The file's bytes and extension for a job; no bytes when it cannot be encoded.
    struct EncodedFile {
        std::vector<uint8_t> data;
        std::string ext;
    };
    static EncodedFile encodeForFolder(const FolderWrite& job);
    struct AheadEncoding;
    struct AheadWorkers;
    std::optional<EncodedFile> takeAheadEncoding(const FolderWrite& job) const;

    ExportHost& host_;
    services::Settings& settings_;
    services::Telemetry& telemetry_;
    std::unique_ptr<kit::DispatchQueue> copyQueue_;
    std::shared_ptr<std::atomic<uint64_t>> copySerial_;
    mutable std::mutex aheadLock_;
    mutable std::shared_ptr<AheadEncoding> ahead_;
    std::shared_ptr<AheadWorkers> aheadWorkers_;
};

}  // namespace core
