#include "core/Exporter.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>

#include "core/CutSaves.h"
#include "core/FileNameTemplate.h"
#include "editor/EditorHost.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Exif.h"
#include "kit/base/Files.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/image/Canvas.h"
#include "kit/image/ImageIO.h"
#include "kit/image/PngEncoder.h"
#include "kit/image/Print.h"
#include "kit/ui/FilePanels.h"
#include "kit/ui/Pasteboard.h"
#include "services/NamedTimers.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace core {

const char* const kScreenCaptureAttribute = "com.apple.metadata:kMDItemIsScreenCapture";

std::string screenCaptureMark() {
    // "bplist00", the object true, a one-entry offset table, the 32-byte trailer.
    static const unsigned char bytes[42] = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x09, 0x08, 0, 0, 0, 0,
                                            0,   0,   1,   1,   0,   0,   0,   0,   0,    0,    0, 1, 0, 0,
                                            0,   0,   0,   0,   0,   0,   0,   0,   0,    0,    0, 0, 0, 9};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

namespace {

constexpr double kFolderJpegQuality = 0.92;
constexpr double kSaveAsJpegQuality = 0.85;
constexpr int kJpegMaxSide = 65500;
constexpr int kGifMaxSide = 65535;
constexpr int kRenderMaxSide = 1 << 15;  // the direct renderer's limit; taller goes through a canvas
constexpr double kTempMaxAgeSeconds = 86400;
const char* const kEncodeFailed = "The image could not be encoded";

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string extensionOf(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

std::string asText(const std::vector<uint8_t>& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Writes bytes over a chosen path, whole or not at all, then marks the file.
WriteResult writeOver(const std::string& path, const std::vector<uint8_t>& data, bool mark) {
    std::string error;
    if (!kit::files::writeAtomic(path, asText(data), 0644, &error)) return {std::nullopt, error};
    if (mark) Exporter::setXattr(path);
    return {path, {}};
}

// Writes a new file under the first free name of base, base-2, base-3, …,
// so two saves at once never choose the same file and a name never shows a
// partly written picture; the attributes are on it before it has its name.
WriteResult writeFresh(const std::string& folder, const std::string& base, const std::string& ext,
                       const std::vector<uint8_t>& data, std::span<const kit::files::Attribute> attributes,
                       kit::files::NewFileJournal* journal = nullptr) {
    return putUnderFreeName(folder, base, ext, [&](const std::string& path, std::string* error) {
        return kit::files::writeNew(path, asText(data), 0644, error, attributes, journal);
    });
}

// A save's file: whole under a hidden name first, with the screen-capture
// mark and the facts of its library line on it, then given its name (over
// the file there when overwriting). Cut short before its name, the next
// start finishes it from the hidden file (CutSaves.h), which Kadrix's record
// of its saves names (SaveRecord.h); with `lineOwed` the record stays until
// the library line is written. Once named the file keeps the mark, set again
// on the name, and loses the facts: its line holds them.
WriteResult writeSave(const std::string& folder, const std::string& base, const std::string& ext,
                      const std::vector<uint8_t>& data, bool overwrite, const std::string& facts,
                      bool lineOwed) {
    const std::string mark = screenCaptureMark();
    std::vector<kit::files::Attribute> attributes{{kScreenCaptureAttribute, mark}};
    if (!facts.empty()) attributes.push_back({kSaveFactsAttribute, facts});
    SaveJournal journal(facts, lineOwed);
    WriteResult r;
    if (!overwrite) {
        r = writeFresh(folder, base, ext, data, attributes, &journal);
    } else if (std::string path = joinPath(folder, base + ext);
               kit::files::writeReplacing(path, asText(data), 0644, &r.error, attributes, &journal)) {
        r.path = path;
    }
    if (!r) return r;
    Exporter::setXattr(*r.path);
    kit::files::removeXattr(*r.path, kSaveFactsAttribute);
    return r;
}

}  // namespace

WriteResult putUnderFreeName(
    const std::string& folder, const std::string& base, const std::string& ext,
    const std::function<kit::files::NewFile(const std::string&, std::string*)>& put) {
    std::string error;
    for (int n = 1; n < 100000; ++n) {
        std::string path = joinPath(folder, n == 1 ? base + ext : base + "-" + std::to_string(n) + ext);
        // Names plainly taken are passed over without trying them; `put`
        // still settles a race.
        if (kit::files::exists(path)) continue;
        switch (put(path, &error)) {
            case kit::files::NewFile::written:
                return {path, {}};
            case kit::files::NewFile::exists:
                continue;
            case kit::files::NewFile::failed:
                return {std::nullopt, error};
        }
    }
    return {std::nullopt, "No free file name in " + folder};
}

SaveFormat saveFormatOf(const std::string& setting) {
    if (setting == "JPEG") return SaveFormat::JPEG;
    if (setting == "Auto") return SaveFormat::Auto;
    return SaveFormat::PNG;
}

bool jpegAllowed(int width, int height, double outerRadius, double innerRadius, double padsProduct) {
    if (width > kJpegMaxSide || height > kJpegMaxSide) return false;
    if (outerRadius > 0) return false;
    return innerRadius <= 0 || padsProduct != 0;
}

bool jpegWins(size_t pngBytes, size_t jpegBytes) {
    double png = double(std::max<size_t>(pngBytes, 1)) / 1024 / 1024;
    double jpeg = double(std::max<size_t>(jpegBytes, 1)) / 1024 / 1024;
    return (png > 0.5 && png > 4 * jpeg) || (png > 2.0 && png > 2 * jpeg);
}

// An encoding started before its save was asked for, and what it encodes.
// The worker making it holds it too, with its own copy of the job, and
// touches nothing else: a stale one is dropped here and runs to its end alone.
struct Exporter::AheadEncoding {
    kit::Image image;
    SaveFormat format = SaveFormat::Auto;
    bool jpegAllowed = true;
    std::mutex lock;
    std::condition_variable made;
    bool finished = false;
    std::optional<EncodedFile> file;  // none: the encoding threw; the save encodes afresh
};

// The ahead encodings still running; the exporter's end waits for them.
struct Exporter::AheadWorkers {
    std::mutex lock;
    std::condition_variable idle;
    int running = 0;
};

Exporter::Exporter(ExportHost& host, services::Settings& settings, services::Telemetry& telemetry)
    : host_(host),
      settings_(settings),
      telemetry_(telemetry),
      copyQueue_(std::make_unique<kit::DispatchQueue>("QueueIdentificationCopy")),
      copySerial_(std::make_shared<std::atomic<uint64_t>>(0)),
      aheadWorkers_(std::make_shared<AheadWorkers>()) {}

Exporter::~Exporter() {
    std::unique_lock wait(aheadWorkers_->lock);
    aheadWorkers_->idle.wait(wait, [&] { return aheadWorkers_->running == 0; });
}

void Exporter::oops(const std::string& function, const std::string& message) const {
    telemetry_.oops(function, message);
}

// ---- flattening --------------------------------------------------------------------

kit::Image Exporter::compileImage() {
    services::timerStart("Precompile Image");
    services::timerStart("Precompile Main Layers");
    kit::Image base = host_.imgPrecompiled();
    kit::Image result;
    if (base.isNull())
        oops("compileImage()", "No image to compile");
    else
        result = flatten(base);
    services::timerLog("Precompile Image");
    kit::Json extra = {{"timername", "compileImage"},
                       {"timer", services::timerElapsedText("Precompile Image")}};
    telemetry_.event("timer", editor::core().shotStats(extra));
    return result;
}

bool Exporter::exportsAsCaptured(const kit::Image& base) {
    editor::BackdropHost& backdrop = editor::backdrop();
    auto p = backdrop.paddings();
    // The canvas is the capture's own size, not a pixel wider or higher.
    const bool unpadded = p.padBL + p.padCL == 0 && p.padBB + p.padCB == 0 &&
                          int(p.padBL + p.padCL + p.padBR + p.padCR) == 0 &&
                          int(p.padBT + p.padCT + p.padBB + p.padCB) == 0;
    host_.prepareObjectLayers();
    return !base.isNull() && backdrop.isOn() != 1 && unpadded && host_.showsScreenshotAlone();
}

kit::Image Exporter::flatten(const kit::Image& base) {
    editor::BackdropHost& backdrop = editor::backdrop();
    auto p = backdrop.paddings();
    double left = p.padBL + p.padCL, bottom = p.padBB + p.padCB;
    int w = base.width() + int(p.padBL + p.padCL + p.padBR + p.padCR);
    int h = base.height() + int(p.padBT + p.padCT + p.padBB + p.padCB);

    if (exportsAsCaptured(base)) {
        // Drawing would only copy the capture: a plain screenshot is exported
        // as captured, at the one pixel a unit that drawing gives.
        services::timerLog("Precompile Main Layers");
        kit::Image plain = base;
        plain.setScale(1.0);
        return plain;
    }
    kit::Image image1 = drawObjects(base, w, h, left, bottom);
    if (image1.isNull()) {
        oops("compileImage()", "Can't create CGImage out of the context (objects)");
        return {};
    }
    services::timerLog("Precompile Main Layers");
    kit::LayerPtr lbackdrop = backdrop.lbackdrop();
    if (backdrop.isOn() != 1 || !lbackdrop) return image1;

    services::timerStart("Render Backdrop");
    kit::Canvas composed(w, h);
    if (!composed.isValid()) {
        oops("compileImage()", "Can't create context");
        return {};
    }
    lbackdrop->setTransform(kit::AffineTransform());
    backdrop.blurMeshForExport();
    kit::Rect bb = lbackdrop->bounds();
    composed.drawLayer(*lbackdrop, {bb.minX(), bb.minY()});
    backdrop.updateTransforms();
    services::timerLog("Render Backdrop");
    composed.drawImage(image1, kit::Rect(0, 0, w, h), kit::ScaleQuality::None);
    kit::Image image2 = composed.image();
    if (image2.isNull()) oops("compileImage()", "Can't create CGImage out of the context");
    return image2;
}

kit::Image Exporter::drawObjects(const kit::Image& base, int w, int h, double left, double bottom) {
    kit::LayerPtr layer = host_.objectsLayer();
    // The layers draw in their own space, one image pixel a unit; the
    // editor's zoom transform on the root does not apply here.
    kit::Point o = host_.imageOrigin();
    if (layer && w <= kRenderMaxSide && h <= kRenderMaxSide)  // straight into the result, no copy
        return kit::renderToImage(*layer, kit::Rect(o.x - left, o.y - bottom, w, h), 1.0);
    kit::Canvas objects(w, h);
    if (!objects.isValid()) return {};
    if (layer) {
        kit::Rect b = layer->bounds().standardized();
        objects.drawLayer(*layer, {left - o.x + b.minX(), bottom - o.y + b.minY()});
    } else {
        objects.drawImage(base, kit::Rect(left, bottom, base.width(), base.height()),
                          kit::ScaleQuality::None);
    }
    return objects.image();
}

kit::Image Exporter::resize(const kit::Image& image, int width, int height) {
    if (image.isNull() || width < 1) return image;
    if (height < 1) height = std::max(1, int(double(int64_t(image.height()) * width) / image.width()));
    double s = double(width) / image.width();
    kit::ScaleQuality q = kit::ScaleQuality::High;
    if (s == 0.5)
        q = kit::ScaleQuality::Medium;
    else if (s >= 1.0 && s == std::round(s))
        q = kit::ScaleQuality::None;
    kit::Image out = image.scaled(width, height, q);
    return out.isNull() ? image : out;
}

kit::Image Exporter::bitmapRep(const kit::Image& image, double dpr) {
    kit::Image out = image;
    if (!(dpr > 0)) return out;
    double pw = image.width() / dpr, ph = image.height() / dpr;
    out.setScale(pw == std::round(pw) && ph == std::round(ph) ? dpr : 1.0);
    return out;
}

// ---- names ----------------------------------------------------------------------------

std::string Exporter::fileName(const std::optional<std::string>& templ) {
    std::string t = templ ? *templ : settings_.getString("fileNameTemplate", kDefaultFileNameTemplate);
    auto date = host_.screenshotDate().value_or(Clock::now());
    kit::Json meta = host_.metadata();
    std::string app = meta.is_object() && meta.contains("app") && meta["app"].is_string()
                          ? meta["app"].get<std::string>()
                          : std::string();
    return expandFileName(t, date, app);
}

std::string Exporter::fileNameMacros() {
    return core::fileNameMacros(settings_.getString("fileNameTemplate", kDefaultFileNameTemplate));
}

// ---- encoding -------------------------------------------------------------------------

std::vector<uint8_t> Exporter::encodePNG(const kit::Image& image) {
    // zlib's level 3 on every core: a screenshot comes out within a few
    // percent of level 6's size in well under half the time.
    return kit::Png::encode(image, 0, 3);
}

std::vector<uint8_t> Exporter::encodeJPEG(const kit::Image& image, double quality, bool screenshotComment) {
    if (image.width() > kJpegMaxSide || image.height() > kJpegMaxSide) return {};
    std::vector<uint8_t> jpeg = kit::ImageIO::encodeJPEG(image, quality);
    if (jpeg.empty() || !screenshotComment) return jpeg;
    return kit::Exif::withUserComment(jpeg, "Screenshot");
}

// ---- folder writer --------------------------------------------------------------------

bool Exporter::downscales(const kit::Image& image, bool allowed) {
    return allowed && settings_.getBool("downscaleOnSave", false) && host_.dpr() >= 2.0 &&
           image.width() / 2 >= 1;
}

kit::Image Exporter::withDownscale(const kit::Image& image, bool allowed) {
    return downscales(image, allowed) ? resize(image, image.width() / 2, 0) : image;
}

std::optional<FolderWrite> Exporter::prepareFolderWrite(const std::string& folder) {
    kit::Image image = compileImage();
    if (image.isNull()) {
        oops("saveToFolder(url:)", "No image to save");
        return std::nullopt;
    }
    image = withDownscale(image, true);
    kit::Json meta = host_.metadata();
    // "autoName" overwrites only in the folder it was saved to: the same name
    // elsewhere belongs to some other file.
    bool hasAutoName = meta.is_object() && meta.contains("autoName") && meta["autoName"].is_string();
    bool sameFolder = hasAutoName && meta.value("autoFolder", std::string()) == folder;
    bool overwrite = sameFolder && settings_.getBool("autosaveOverwrite", false);
    FolderWrite job =
        folderJob(image, sameFolder ? meta["autoName"].get<std::string>() : fileName(), folder, overwrite);
    job.metadata = meta;
    return job;
}

FolderWrite Exporter::folderJob(const kit::Image& image, const std::string& name, const std::string& folder,
                                bool overwrite) {
    FolderWrite job;
    job.image = bitmapRep(image, host_.dpr());
    job.folder = folder;
    job.baseName = name;
    job.overwrite = overwrite;
    job.format = saveFormatOf(settings_.getString("saveFormat", "Auto"));
    editor::BackdropHost& b = editor::backdrop();
    auto p = b.paddings();
    job.jpegAllowed = jpegAllowed(image.width(), image.height(), b.outerRadiusPx(), b.innerRadiusPx(),
                                  (p.padBL + p.padBR) * (p.padBT + p.padBB));
    return job;
}

Exporter::EncodedFile Exporter::encodeForFolder(const FolderWrite& job) {
    const bool tryJpeg = job.jpegAllowed && job.format != SaveFormat::PNG;
    auto timedJpeg = [&job] {
        services::timerStart("Jpeg Data");
        auto out = encodeJPEG(job.image, kFolderJpegQuality, true);
        services::timerLog("Jpeg Data");
        return out;
    };
    if (tryJpeg && job.format == SaveFormat::JPEG) {
        std::vector<uint8_t> jpeg = timedJpeg();
        if (!jpeg.empty()) return {std::move(jpeg), ".jpeg"};
        // A JPEG that cannot be made falls back to PNG rather than to nothing.
    }
    services::timerStart("PNG Data");
    EncodedFile file{encodePNG(job.image), ".png"};
    services::timerLog("PNG Data");
    // Under Auto the JPEG is made only when it could win: against a PNG that
    // not even a one-byte JPEG beats (any screen of flat colours), making it
    // would only take cores from the PNG.
    if (tryJpeg && !file.data.empty() && jpegWins(file.data.size(), 1)) {
        std::vector<uint8_t> jpeg = timedJpeg();
        if (!jpeg.empty()) {
            std::printf("PNG: %.2f MB, JPEG: %.2f MB\n", file.data.size() / 1048576.0,
                        jpeg.size() / 1048576.0);
            if (jpegWins(file.data.size(), jpeg.size())) {
                std::printf("Jpeg won\n");
                file = {std::move(jpeg), ".jpeg"};
            }
        }
    }
    return file;
}

void Exporter::encodeAhead() {
    kit::Image base = host_.imgPrecompiled();
    if (base.isNull()) return;
    if (!exportsAsCaptured(base)) return;
    // A downscaled save makes pixels of its own each time: nothing to match.
    if (downscales(base, true)) return;
    FolderWrite job = folderJob(base, std::string(), std::string(), false);
    auto ahead = std::make_shared<AheadEncoding>();
    ahead->image = job.image;
    ahead->format = job.format;
    ahead->jpegAllowed = job.jpegAllowed;
    {
        std::lock_guard guard(aheadWorkers_->lock);
        ++aheadWorkers_->running;
    }
    kit::globalQueue().async(
        [ahead, workers = aheadWorkers_, starts = onAheadEncodingStarts, job = std::move(job)] {
            std::optional<EncodedFile> file;
            try {
                if (starts) starts();
                file = encodeForFolder(job);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "kadrix: encoding ahead failed: %s\n", e.what());
            }
            {
                std::lock_guard guard(ahead->lock);
                ahead->file = std::move(file);
                ahead->finished = true;
            }
            ahead->made.notify_all();
            std::lock_guard guard(workers->lock);
            if (--workers->running == 0) workers->idle.notify_all();
        });
    // An earlier encoding never taken is only let go of, never waited for.
    std::lock_guard guard(aheadLock_);
    ahead_ = std::move(ahead);
}

std::optional<Exporter::EncodedFile> Exporter::takeAheadEncoding(const FolderWrite& job) const {
    std::shared_ptr<AheadEncoding> ahead;
    {
        std::lock_guard guard(aheadLock_);
        ahead = std::move(ahead_);
        ahead_.reset();
    }
    if (!ahead) return std::nullopt;
    // The same storage holds the same pixels: a copy that is written to gets
    // storage of its own.
    const kit::Image& a = ahead->image;
    const bool same = a.storage().lock() == job.image.storage().lock() && a.width() == job.image.width() &&
                      a.height() == job.image.height() && a.bytesPerRow() == job.image.bytesPerRow() &&
                      a.scale() == job.image.scale() && ahead->format == job.format &&
                      ahead->jpegAllowed == job.jpegAllowed;
    // A stale encoding is not waited for: the save encodes afresh at once.
    if (!same) return std::nullopt;
    std::unique_lock wait(ahead->lock);
    ahead->made.wait(wait, [&] { return ahead->finished; });
    return std::move(ahead->file);
}

WriteResult Exporter::writeToFolder(const FolderWrite& job) const {
    std::string error;
    if (!kit::files::makeDirs(job.folder, 0755, &error)) {
        telemetry_.oops("saveImgToFolder(image:name:url:overwrite:)", "Can't create the default directory");
        return {std::nullopt, error};
    }
    std::optional<EncodedFile> file = takeAheadEncoding(job);
    if (!file) file = encodeForFolder(job);
    if (file->data.empty()) {
        telemetry_.oops("saveImgToFolder(image:name:url:overwrite:)", kEncodeFailed);
        return {std::nullopt, kEncodeFailed};
    }
    services::timerStart("Data Write");
    WriteResult r = writeSave(job.folder, job.baseName, file->ext, file->data, job.overwrite,
                              saveFactsAttributeValue(saveFacts(job.metadata)), job.lineOwed);
    services::timerLog("Data Write");
    if (!r) telemetry_.oops("saveImgToFolder(image:name:url:overwrite:)", "PNG save error " + r.error);
    return r;
}

void Exporter::rememberAutoName(const FolderWrite& job, const WriteResult& result) {
    kit::Json meta = host_.metadata();
    if (!meta.is_object()) meta = kit::Json::object();
    // Another screenshot has landed since: the file's name is none of its
    // own, and a save of it with overwriting on must not replace that file.
    const auto facts = [](kit::Json m) {
        if (m.is_object()) m.erase("autoName"), m.erase("autoFolder");
        return m;
    };
    if (facts(meta) != facts(job.metadata)) return;
    bool had = meta.contains("autoName") && meta.value("autoFolder", std::string()) == job.folder;
    if (had) return;
    if (result.path) {
        std::string file = result.path->substr(result.path->rfind('/') + 1);
        meta["autoName"] = file.substr(0, file.rfind('.'));
        meta["autoFolder"] = job.folder;
    } else {
        meta.erase("autoName");
        meta.erase("autoFolder");
    }
    host_.setMetadata(meta);
}

WriteResult Exporter::saveToFolder(const std::string& folder) {
    auto job = prepareFolderWrite(folder);
    if (!job) return {std::nullopt, "No image to save"};
    WriteResult r = writeToFolder(*job);
    rememberAutoName(*job, r);
    return r;
}

WriteResult Exporter::saveImgToFolder(const kit::Image& image, const std::string& name,
                                      const std::string& folder, bool overwrite) {
    return writeToFolder(folderJob(image, name, folder, overwrite));
}

void Exporter::setXattr(const std::string& path) {
    // A file system without user attributes (tmpfs, vfat) simply has no mark.
    kit::files::setXattr(path, kScreenCaptureAttribute, screenCaptureMark());
}

// ---- Save As --------------------------------------------------------------------------

std::optional<std::string> Exporter::showSaveAsPanel(const std::optional<std::string>& folder,
                                                     const std::string& name) {
    kit::SavePanel panel;
    panel.title = "Save As";
    panel.prompt = "Save";
    std::string ext = extensionOf(name);
    bool jpeg = ext == "jpeg" || ext == "jpg";
    panel.allowedTypes = jpeg ? std::vector<std::string>{"jpeg", "jpg"} : std::vector<std::string>{"png"};
    panel.accessoryLabel = "Format:";
    panel.accessoryItems = {"png", "jpeg"};
    panel.accessorySelectedIndex = jpeg ? 1 : 0;
    // Switching the format changes the name's extension and the files shown to match.
    panel.onAccessoryChange = [](kit::SavePanel& p, int index) {
        std::string n = p.nameFieldValue;
        size_t dot = n.rfind('.');
        if (dot != std::string::npos && dot > 0) n.resize(dot);
        p.setAllowedTypes(index == 1 ? std::vector<std::string>{"jpeg", "jpg"}
                                     : std::vector<std::string>{"png"});
        p.setNameFieldValue(n + (index == 1 ? ".jpeg" : ".png"));
    };
    if (folder) panel.directory = *folder;
    panel.nameFieldValue = name;
    auto chosen = panel.runModal();
    if (!chosen) return std::nullopt;
    return withImageExtension(*chosen, panel.accessorySelectedIndex == 1);
}

std::string Exporter::withImageExtension(const std::string& path, bool jpeg) {
    // A name typed with its own image extension keeps it; any other (or
    // none) gets the chosen format's, so the file is what its name says.
    std::string ext = extensionOf(path);
    if (ext == "png" || ext == "jpeg" || ext == "jpg") return path;
    return path + (jpeg ? ".jpeg" : ".png");
}

WriteResult Exporter::saveToFileAs(const std::string& path, bool lineOwed) {
    kit::Image image = compileImage();
    if (image.isNull()) {
        oops("saveToFileAs(url:)", "No image to save");
        return {std::nullopt, "No image to save"};
    }
    image = bitmapRep(withDownscale(image, host_.openedURL().empty()), host_.dpr());
    std::vector<uint8_t> data =
        extensionOf(path) == "png" ? encodePNG(image) : encodeJPEG(image, kSaveAsJpegQuality, false);
    if (data.empty()) {
        oops("saveToFileAs(url:)", kEncodeFailed);
        return {std::nullopt, kEncodeFailed};
    }
    // Its library line, should it land in the library's folder, is that of a
    // file the user chose to write.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = path.substr(folder.size());
    const size_t dot = name.rfind('.');
    WriteResult r = writeSave(folder, name.substr(0, dot), dot == std::string::npos ? "" : name.substr(dot),
                              data, true, saveFactsAttributeValue({{"mode", "file"}}), lineOwed);
    if (!r) oops("saveToFileAs(url:)", "Save error " + r.error);
    return r;
}

// ---- temporary folder and plain JPEG ---------------------------------------------------

std::string Exporter::tempFolder() {
    return kit::files::tempDir() + "/captures";
}

std::optional<std::string> Exporter::saveTempImage(const kit::Image& image, const std::string& name,
                                                   bool maxQuality) {
    cleanupTempFolder();
    std::string folder = tempFolder();
    if (!kit::files::makeDirs(folder, 0700)) {
        std::printf("OOPS: Can't create temp folder\n");
        return std::nullopt;
    }
    if (!maxQuality) return saveImgToFolder(image, name, folder, false).path;
    std::vector<uint8_t> png = encodePNG(bitmapRep(image, host_.dpr()));
    if (png.empty()) {
        oops("saveTempImage(image:name:maxQuality:)", kEncodeFailed);
        return std::nullopt;
    }
    WriteResult r = writeOver(joinPath(folder, name + ".png"), png, true);
    if (!r) oops("saveTempImage(image:name:maxQuality:)", "PNG save error " + r.error);
    return r.path;
}

void Exporter::cleanupTempFolder(const std::optional<std::string>& folder) {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    cleanupTempFolder(folder,
                      double(std::chrono::duration_cast<std::chrono::milliseconds>(since).count()) / 1000.0);
}

void Exporter::cleanupTempFolder(const std::optional<std::string>& folder, double now) {
    std::string dir = folder ? *folder : tempFolder();
    if (!kit::files::isDirectory(dir)) return;
    auto names = kit::files::listFolder(dir);
    if (!names) {
        std::printf("OOPS: Can't cleanup test folder\n");
        return;
    }
    for (const std::string& name : *names) {
        // Only the image files we write: a shared folder holds other things too.
        std::string ext = extensionOf(name);
        if (ext != "png" && ext != "jpeg" && ext != "gif") continue;
        std::string path = joinPath(dir, name);
        auto stamp = kit::files::fileStamp(path);
        if (!stamp || !stamp->regularFile || !stamp->ownedByUser) continue;
        // Without a birth time (tmpfs and older kernels) the last change counts.
        double born = stamp->created.value_or(stamp->modified);
        if (now - born > kTempMaxAgeSeconds && !kit::files::remove(path))
            std::printf("OOPS: Can't cleanup test folder\n");
    }
}

WriteResult Exporter::saveImageAsJPEG(const kit::Image& image, const std::string& name,
                                      const std::string& folder, double quality) {
    const char* fn = "saveImageAsJPEG(image:name:folder:quality:)";
    if (!kit::files::isDirectory(folder)) {
        oops(fn, "Folder doesn't exist");
        return {std::nullopt, "Folder doesn't exist"};
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        oops(fn, "Bad file name");
        return {std::nullopt, "Bad file name"};
    }
    std::vector<uint8_t> jpeg = encodeJPEG(image, quality, false);
    if (jpeg.empty()) {
        oops(fn, kEncodeFailed);
        return {std::nullopt, kEncodeFailed};
    }
    WriteResult r = writeOver(joinPath(folder, name), jpeg, false);
    if (!r) oops(fn, "Save error " + r.error);
    return r;
}

// ---- clipboard ------------------------------------------------------------------------

void Exporter::copyToPasteboard(const kit::Image& image, std::function<void(CopyResult)> done) {
    uint64_t serial = ++*copySerial_;
    kit::Image rep = bitmapRep(image, host_.dpr());
    auto latest = copySerial_;
    copyQueue_->async([rep, serial, latest, done = std::move(done)] {
        auto png = std::make_shared<std::vector<uint8_t>>(encodePNG(rep));
        kit::dispatchMain([png, serial, latest, done] {
            CopyResult result = CopyResult::Failed;
            // A newer copy has started: its picture is the one the user wants.
            if (serial != latest->load())
                result = CopyResult::Superseded;
            else if (!png->empty() && kit::Pasteboard::general().setPNGData(*png))
                result = CopyResult::Written;
            if (done) done(result);
        });
    });
}

// ---- GIF ------------------------------------------------------------------------------

WriteResult Exporter::saveGIFToFolder(const kit::Image& img1, const kit::Image& img2, double delay,
                                      const std::string& folder, const std::string& baseName) {
    const char* fn = "saveGIFToFolder(img1:img2:delay:url:)";
    std::string error;
    if (!kit::files::makeDirs(folder, 0755, &error)) {
        telemetry_.oops(fn, "Can't create the default directory");
        return {std::nullopt, error};
    }
    int w = std::max(img1.width(), img2.width()), h = std::max(img1.height(), img2.height());
    if (img1.isNull() || img2.isNull() || w > kGifMaxSide || h > kGifMaxSide) {
        telemetry_.oops(fn, "Error creating gif file");
        return {std::nullopt, "The pictures are too large for a GIF file"};
    }
    // Each frame stretched to the shared canvas, proportions not kept.
    auto fit = [&](const kit::Image& img) {
        if (img.width() >= w && img.height() >= h) return img;
        kit::Image s = img.scaled(w, h, kit::ScaleQuality::None);
        return s.isNull() ? img : s;
    };
    std::vector<uint8_t> gif = kit::ImageIO::encodeGIF({fit(img1), fit(img2)}, delay, 0);
    if (gif.empty()) {
        telemetry_.oops(fn, "Error creating gif file");
        return {std::nullopt, kEncodeFailed};
    }
    return writeFresh(folder, baseName, ".gif", gif, {});
}

// ---- printing -------------------------------------------------------------------------

bool Exporter::printImage(const kit::Image& image) {
    return kit::Print::printImage(image, "Kadrix");
}

}  // namespace core
