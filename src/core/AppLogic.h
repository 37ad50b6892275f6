#pragma once
// The one coordinator of the program. Every menu command, global shortcut,
// editor button and kadrix:// command ends in one of its operations: it takes
// captures through the capture routes, makes an image the current screenshot,
// runs the after-capture actions, and presents and hides the editor window.
//
// One instance lives for the whole process (`shared()`); tests make their own
// with doubles for the services, the capture routes and the editor.
//
// Threads: everything runs on the main thread, except the readers of the
// pixel buffer (`capture()`), which may run anywhere. `lockImageData` guards
// `imgSource`, `pixels` and `bytesPerRow`; a load holds it from start to end
// and never takes it twice (it is not recursive).
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/CaptureRoutes.h"
#include "core/EditorLink.h"
#include "core/ScreenshotTurns.h"
#include "editor/EditorHost.h"
#include "imaging/Capture.h"
#include "kit/base/Color.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Displays.h"
#include "kit/base/Image.h"
#include "kit/base/Json.h"
#include "kit/base/Timer.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Cursor.h"
#include "kit/ui/FilePanels.h"

namespace services {
class Announcer;
class Notifier;
class Settings;
class Telemetry;
}  // namespace services

namespace core {

struct AppExports;

class AppLogic : public editor::CoreHost {
public:
    // What to do with a fresh capture.
    struct AfterGrab {
        bool copy = false;
        bool save = false;
        bool edit = false;
        bool thumbnail = false;
        bool upload = false;  // carried along; the after-capture sequence does not act on it
        bool pin = false;
        friend bool operator==(const AfterGrab&, const AfterGrab&) = default;
    };

    // The services the core talks to; the shared ones unless a test passes its own.
    struct Services {
        services::Settings* settings = nullptr;
        services::Telemetry* telemetry = nullptr;
        services::Notifier* notifier = nullptr;
    };

    // The process-wide instance, made (and started) on first use on the main
    // thread, with the hooks of the lower floors installed.
    static AppLogic& shared();

    // Runs the start-up steps: launch event, editor window, library, version
    // change events, the update check timer, temp-folder clean-up.
    AppLogic(Services services, std::unique_ptr<CaptureRoutes> routes, std::unique_ptr<EditorLink> editor);
    ~AppLogic() override;
    AppLogic(const AppLogic&) = delete;
    AppLogic& operator=(const AppLogic&) = delete;

    // Makes this instance the one the capture routes, the services, the
    // editor and the objects call back into; the destructor undoes it.
    void installHooks();

    // ---- Fields (in the order of the data model) ----------------------------
    kit::Color colorValue_ = kit::Color::white(1.0);
    std::string tempFolder;
    std::map<std::string, kit::Cursor> cursors;
    std::string openedURL;
    std::string latestVersion;
    std::string currentCursor = "default";
    std::optional<double> screenshotDate;  // seconds since 1970
    std::function<void()> notificationAction;
    kit::Window* winPreferences = nullptr;
    std::optional<kit::Display> lastActiveScreen;
    double lastActiveTime = 0;
    std::optional<kit::Timer> tmrSelectionStatusChange;
    std::string currentSelectionMode;
    int64_t saveAttempts = 0;
    std::optional<std::string> folderWithAccessURL;
    std::string lastOCROriginal;

    // The pixel buffer: B, G, R, A, rows from the top, `bytesPerRow` apart.
    // Shares the storage of `imgSource` (never a copy of its own).
    const uint8_t* pixels() const { return pixels_; }
    size_t bytesPerRow() const { return bytesPerRow_; }
    // The current capture with its crop, taken under the image lock; safe
    // from any thread. Must not be called from inside a load.
    imaging::Capture capture() const override;

    CaptureRoutes& routes() { return *routes_; }
    EditorLink& editor() { return *editor_; }

    // ---- Editor window and activation ----------------------------------------
    void hideMainWindow() override;
    void yieldFocus();
    void activate(int attempt);
    void showPreview(const kit::Rect& rect);
    void sizeMainWindow();
    void placeMainWindow();
    void showFirstHideHelper();
    // Takes the library popover and the first-hide hint off the screen, and
    // keeps a pending hint from showing, before a capture: they are no part
    // of what the user captures.
    void clearScreenForCapture();
    void refreshUpdateBadge();
    void newVersionFound(const std::string& version);
    // The editor's content size in points for an image on a screen (points).
    static kit::Size mainWindowSize(kit::Size screen, kit::Size imagePixels, double dpr, bool preferLarge);
    // The window's origin on a screen's visible frame (screen space, y up).
    static kit::Point mainWindowOrigin(const kit::Rect& visibleFrame, kit::Size window);

    // ---- Selection mode, status and colour --------------------------------------
    void selectionModeChanged(const std::string& mode) override;
    void refreshSelectionMode();
    void refreshCropButton() override;
    // Switches the backdrop, unless the window capture already carries one.
    void checkBackdropAllowed(const std::string& method) override;
    void refreshToolSettings();
    void sampleColor(double x, double y, bool darkest) override;
    void updateColorStrings() override;
    void selectDefaultFolder(std::function<void()> whenReady = {});
    // Runs the folder chooser (the desktop's open panel unless a test sets it).
    std::function<std::vector<std::string>(kit::OpenPanel&)> folderChooser_;
    void updateStatus() override;
    // The status size text: "W×H" + hair space + "px" or "pt".
    static std::string sizeText(double width, double height, double scale, bool realPixels);

    void quitOrHide(const std::string& method) override;
    void selectTool(const std::string& tool, const std::string& method) override;
    // The tool bar's item for a tool: "ObjArrow" → "arrow", "ObjConceal" → "blur".
    static std::string toolbarId(const std::string& tool);
    void addCaptureToScreenshot(const std::string& method) override;

    // ---- Capture flow -------------------------------------------------------
    void grabScreenshot(const std::string& mode, const std::optional<std::string>& method = std::nullopt,
                        const std::optional<AfterGrab>& then = std::nullopt);
    // `turn`, the capture's turn among the new screenshots, is held until
    // the actions have taken the capture's picture.
    void afterGrab(const kit::Image& image, const std::string& mode, const std::optional<std::string>& method,
                   const std::optional<AfterGrab>& then,
                   std::shared_ptr<ScreenshotTurns::Replacement> turn = nullptr);
    void performAfterGrab(const AfterGrab& actions, const std::string& method,
                          std::shared_ptr<ScreenshotTurns::Replacement> turn = nullptr);
    void grabDelayed(const std::optional<std::string>& method, const std::optional<AfterGrab>& then);
    // The scrolling capture, explained the first time; its image goes
    // through afterGrab as "scrolling".
    void startScrollingCapture(int direction, const std::string& method,
                               const std::optional<AfterGrab>& then);
    // A scrolling capture's image, landed in `turn` (taken as the capture
    // started) or, without one, in a turn taken now.
    void grabScrolling(const kit::Image& image, const std::optional<AfterGrab>& then,
                       std::shared_ptr<ScreenshotTurns::Replacement> turn = nullptr);
    // The live scrolling capture's image.
    void grabScrollingManual(const kit::Image& image, const std::optional<std::string>& method,
                             const std::optional<AfterGrab>& then,
                             std::shared_ptr<ScreenshotTurns::Replacement> turn = nullptr);
    // The turn of a capture starting now: the later new screenshots wait
    // until the last holder lets it go.
    std::shared_ptr<ScreenshotTurns::Replacement> captureTurn();
    // A capture is being taken (the screenshot tool may still be open).
    bool capturing() const { return capturing_; }
    // The actions the settings ask for after a capture in this mode.
    AfterGrab afterGrabFromSettings(const std::string& mode);

    // ---- Image loading ----------------------------------------------------------
    bool loadImage(const kit::Image& imgSource, bool soft) override;

    // ---- The editor's view of the core -------------------------------------------
    kit::Image imgSource() const override;
    kit::Image imgPrecompiled() const override { return imgPrecompiled_; }
    kit::Window* winMain() const override { return editor_->window(); }
    kit::Color colorValue() const override { return colorValue_; }
    std::string colorDisplayString() const override { return colorDisplayString_; }
    std::string colorCopyString() const override { return colorCopyString_; }
    kit::Json metadata() const override { return metadata_; }
    kit::Json& metadataRef() { return metadata_; }
    bool cursorUpdating() const override { return cursorUpdating_; }
    void setCursorUpdating(bool on) override { cursorUpdating_ = on; }
    bool hideWhenExitFS() const override { return hideWhenExitFS_; }
    void setHideWhenExitFS(bool on) override { hideWhenExitFS_ = on; }

    // Steps of the temp-folder clean-up that the exporter owns; start-up calls it.
    virtual void cleanupTempFolder(const std::optional<std::string>& folder);
    // Copy and save, as the exporter provides them.
    void copyImage(bool selection, bool dontHide) override;
    virtual void saveImage(bool quiet, bool dontHide);
    // For the end of the program: saves written but not yet handed to the library.
    void handOverWrittenSaves();
    // The export commands (AppExports.cpp).
    void saveImage(const std::string& method, bool escape) override;
    void saveImageAs(const std::optional<std::string>& folder, const std::string& name);
    void saveGIF(const kit::Image& img1, const kit::Image& img2, double delay,
                 const std::optional<std::string>& folder);
    void printImage();
    kit::Image compileImage() override;
    std::optional<std::string> saveTempImage(const kit::Image& image, const std::string& name,
                                             bool maxQuality) override;
    std::string fileName() const override;
    kit::Json shotStats(const kit::Json& extra) const override;
    AppExports& exports() const;
    // An image object copied in the editor goes to the clipboard as a picture.
    void copyImageToPasteboard(const kit::Image& image) override;
    // Pins an image at a point of the window-server space.
    virtual void pinImage(const kit::Image& img, kit::Point mid);
    // Pins the compiled screenshot where it shows now: on the editor window,
    // else on the preview thumbnail, else mid-screen.
    void pinImage(std::optional<double> midX, std::optional<double> midY) override;
    // Pins an image file mid-screen; a warning when it is not a readable image.
    void pinImage(const std::string& file);
    // Forgets a closed pin.
    void removePin(int64_t id);
    // Sizes in pixels (true) or points, everywhere at once.
    void setRealPixels(bool value) override;

    // ---- Upload, uploads gallery, companion uploader (UploadCommands.cpp) ----
    void uploadImage(const std::string& method) override;
    void uploadFinished(const std::string& url, const std::string& error);
    // False when there is no token or no page could be opened.
    bool gotoUploads(const std::string& method);
    // Hands the screenshot to the companion uploader; false (after a warning) when it could not.
    bool plimImage();
    void handlePlimCommand(const std::string& command, const std::optional<std::string>& payload);
    // Opens an http or https address; anything else is left alone.
    static void openURLString(const std::string& text);
    // The token prompt and the opener of links; tests replace them.
    std::function<std::string(const std::string& title, const std::string& message)> askToken_;
    std::function<bool(const std::string& url)> openURL_;

    // ---- Crop, uncrop and flattening (CropCommands.cpp) -------------------------
    // The part of an image (else the loaded one, within the crop) under the
    // crop selection; with the crop tool off, the current picture.
    std::optional<kit::Image> preCrop(const std::optional<kit::Image>& image);
    void cropToSelection(bool dontRepaint) override;
    // Crops to a rectangle of the whole image (top-left origin); false, with
    // the previous crop kept, when the rectangle gives no pixels.
    bool cropAbsolute(const services::Rect& absolute) override;
    void uncrop() override;
    void rasterize();
    // The pixels of an image under a rectangle made whole outward and kept to
    // the image; null when nothing of it lies inside.
    static kit::Image cutImage(const kit::Image& image, const services::Rect& r);
    // The backdrop goes off when the whole canvas after an uncrop exceeds 15 MP.
    static bool backdropTooLargeAfterUncrop(double canvasPixels);

    // ---- Opening, dropping and pasting images (OpenCommands.cpp) ----------------
    void loadFromClipboard(const std::string& method);
    // False (the user told why) when the file gives no picture. Otherwise
    // the picture becomes the current screenshot in its turn, now or once
    // an earlier capture is done, and `shown` then presents the editor.
    bool openImage(const std::string& file, std::function<void()> shown = {});
    bool droppedImageAt(const std::string& file, double x, double y) override;
    uint64_t additionTurn() override { return turns_.addition(); }
    void addInTurn(uint64_t turn, std::function<void()> add) override {
        turns_.whenInTurn(turn, std::move(add));
    }
    // Where a drop lands, by an image point: on the screenshot with its canvas,
    // on the backdrop's margin, or outside both (edges count as outside).
    enum class DropZone { Canvas, Backdrop, Outside };
    static DropZone dropZone(kit::Point p, const services::Rect& canvas, const services::Rect& composition);
    // Places an image as an object right of the screenshot and the images
    // already added, its top level with theirs.
    void addImageObject(const kit::Image& image);
    // Where that object goes (image pixels, y up): `source` the screenshot,
    // `bounds` it with the images, w × h the new image.
    static kit::Point imageObjectOrigin(const services::Rect& source, const services::Rect& bounds, double w,
                                        double h, double dpr);
    // A picture file as an image (any format the desktop reads, upright as
    // its EXIF orientation says); null when missing, unreadable, no regular
    // file or above the pixel cap, and then `error` says which to the user.
    static kit::Image readImageFile(const std::string& file, std::string* error = nullptr);
    static kit::Image readImageFile(const std::string& file, std::string* error,
                                    kit::ImageIO::ReadHandle& handle);
    // The warning for a picture file that did not open, with the reason.
    void tellImageNotOpened(const std::string& why);
    // The clipboard's image; tests replace it.
    std::function<kit::Image()> clipboardImage_;

    // ---- Text recognition (TextCommands.cpp) ---------------------------------
    // Recognises text in an area the user selects on the screen.
    void instantOCR(const std::string& method);
    // Recognises the text under the editor's selection (the caller presets the event's method).
    void ocrSelection(const std::string& method) override;
    // Recognises an image on the recognition queue; the result reaches
    // ocrFinished on the main thread.
    void recognize(const kit::Image& image);
    void ocrFinished(const std::string& text);
    // Puts recognised text on the clipboard; the notice's button swaps
    // between the text with and without line breaks.
    void copyOCRText(const std::string& text, bool keptBreaks);
    // Shows a recognition's result notice now, or once a notice the
    // recognition gave (e.g. that it reads English instead) has been on
    // screen long enough to be read.
    void showOCRNotice(std::function<void()> show);
    void copyText(const std::string& text, const std::string& title, const std::string& message,
                  std::optional<kit::Color> swatch) override;
    static constexpr int kOcrMaxHeight = 3000;
    static constexpr int kOcrMaxWidth = 6000;
    static bool ocrAreaTooLarge(int width, int height);
    // Every run of line feeds as one blank.
    static std::string removeLineBreaks(const std::string& text);
    // The notice's text: line feeds as blanks, and past 120 characters the
    // first 107 and "..." (characters as the reader sees them).
    static std::string ocrPreview(const std::string& text);
    // The recogniser, called on the recognition queue; tests replace it.
    // Nothing: the recognition could not run (it has told the user why).
    std::function<std::optional<std::string>(const kit::Image&)> recognizer_;

    // ---- The editor's pointer, selection objects, files (EditorUtilities.cpp) --
    // The pointer for a name of the editor's; unknown names give the arrow
    // and an error report.
    void setCursor(const std::string& cursor) override;
    // What a cursor name shows: a system shape, an entry of `cursors`, or
    // nothing for an unknown name.
    struct PointerChoice {
        std::optional<kit::Cursor> system;
        std::string entry;
    };
    static std::optional<PointerChoice> pointerFor(const std::string& name);
    // The crop selection as a rectangle, an erased area, or two rulers with
    // its size; each ends the selection. Without a selection, nothing.
    void selectRectangleTool() override;
    void selectConcealTool() override;
    void imprintSelectionSize();
    void selectRulerTool() override { imprintSelectionSize(); }
    // The rulers' rectangles for a selection: the vertical one, then the horizontal one.
    static std::pair<services::Rect, services::Rect> imprintRulers(const services::Rect& selection,
                                                                   double dpr);
    // A library file to the clipboard as a picture; false (the user told)
    // when the file gives none.
    bool copyImageFile(const std::string& file);
    // The "Open Image" panel: the chosen file opens in the editor, or goes to
    // `whenReady` (the backdrop panel's picture) when one is given.
    void openImageDialog(std::function<void(const std::string&)> whenReady = {});
    // Runs the image chooser (the desktop's open panel unless a test sets it).
    std::function<std::vector<std::string>(kit::OpenPanel&)> imageChooser_;
    // The first time the editor hides after a copy, the tray shows a hint.
    void markFirstHide();

    services::Settings& settings() { return *services_.settings; }
    services::Telemetry& telemetry() { return *services_.telemetry; }
    services::Notifier& notifier() { return *services_.notifier; }

private:
    void startUp();
    bool lockOwnedHere() const;
    double captureScale() const;
    // A scrolling capture's picture lands in its turn and goes through afterGrab.
    void landCapture(const kit::Image& image, const std::optional<std::string>& method,
                     const std::optional<AfterGrab>& then,
                     std::shared_ptr<ScreenshotTurns::Replacement> turn = nullptr);
    bool firstCaptureQuestionDue(const std::string& mode);
    void recordCaptureFacts(const std::string& mode);
    void bringEditorForward();
    // Posts the notice held for the capture that landed last, unless the
    // editor is still coming forward, which posts it once it has.
    void postHeldNotice();
    void fitZoom(bool soft);
    std::optional<kit::Display> placementScreen();
    // Runs fn on the main thread after a delay, unless this instance is gone.
    void later(double seconds, std::function<void()> fn);
    services::Rect storeNormalizedSelection();
    void setLoadScale();
    // A panel needs the application active, even when it keeps out of the task bar.
    void activateForPanel();

    Services services_;
    std::unique_ptr<CaptureRoutes> routes_;
    std::unique_ptr<EditorLink> editor_;
    bool hooksInstalled_ = false;

    std::string colorDisplayString_ = "#FFFFFF";
    std::string colorCopyString_ = "#FFFFFF";
    kit::Image imgPrecompiled_;
    kit::Image imgSource_;
    const uint8_t* pixels_ = nullptr;
    size_t bytesPerRow_ = 0;
    kit::Json metadata_ = kit::Json::object();
    bool hideWhenExitFS_ = false;
    bool cursorUpdating_ = true;
    bool capturing_ = false;
    ScreenshotTurns turns_;
    std::optional<std::pair<std::string, std::string>> heldNotice_;  // title, message
    bool editorComing_ = false;

    mutable std::mutex lockImageData;
    // The thread holding lockImageData while a load runs (debug check against re-entry).
    std::atomic<std::thread::id> loadingThread_{};
    // A colour sample asked for while a load held the lock, taken after it.
    struct Sample {
        double x, y;
        bool darkest;
    };
    std::optional<Sample> sampleAfterLoad_;
    bool loadUnderLock(const kit::Image& image, bool soft);

    mutable std::unique_ptr<AppExports> exports_;
    std::shared_ptr<int> life_ = std::make_shared<int>(0);
    kit::Timer updateCheck_;
    // What saves cut short left in the save folder, settled after the start
    // (the end of the core waits for it).
    kit::DispatchQueue leftovers_{"LeftoverSaves"};
    kit::Timer firstHideClose_;
    kit::Timer firstHideOpen_;
    double ocrNoticeNotBefore_ = 0;  // kit::wallNow() time
    kit::Timer ocrNotice_;
};

}  // namespace core
