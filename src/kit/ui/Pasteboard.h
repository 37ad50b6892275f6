#pragma once
// The system clipboard: PNG images, text, file URLs and the private type that
// carries annotation objects as JSON between windows of the application.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Image.h"

namespace kit {

namespace ImageIO {
class ReadHandle;
}

class Pasteboard {
public:
    static constexpr const char* kObjectsType = "application/x-kadrix-objects";

    // Everything written in one go replaces the clipboard's contents once.
    struct Contents {
        Image image;                         // offered as PNG
        std::optional<std::string> text;     // UTF-8
        std::vector<std::string> filePaths;  // offered as file URLs
        std::optional<std::string> objects;  // the private type
    };

    static Pasteboard& general();

    void clearContents();
    bool write(const Contents& contents);
    bool setImage(const Image& image);
    // PNG bytes encoded elsewhere (off the main thread), offered as the one
    // type image/png; false, leaving the clipboard as it was, when empty.
    bool setPNGData(const std::vector<uint8_t>& png);
    bool setString(const std::string& text);
    bool setFilePaths(const std::vector<std::string>& paths);
    bool setObjects(const std::string& json);

    std::optional<std::string> string() const;
    std::vector<std::string> filePaths() const;
    std::optional<std::string> objects() const;
    // An image from any image type on the clipboard, else from the first
    // file URL that names a readable image; null when there is none, and
    // then `why` (when given) says why the last one tried was refused. All
    // of it within one decode's time, however slowly another program hands
    // its offer over; on the main thread the event loop goes on meanwhile,
    // and the way out ends the wait at once (null), as `handle` (when given)
    // ends the reads of the files listed.
    Image image(std::string* why = nullptr, ImageIO::ReadHandle* handle = nullptr) const;
    // Whether a picture is offered, answered at once with what is known:
    // another program's offer is asked about off the main thread (its answer
    // counts when it comes within a second of the question's sending), and
    // until it has answered the answer is no. Each call asks again;
    // `onImageAnswer` tells what a new answer changed.
    bool hasImage() const;
    // What the clipboard was found to offer; `unanswered` when another
    // program did not say in time, so a picture may be there.
    enum class ImageAnswer { offered, notOffered, unanswered };
    // The same, waiting for another program's answer for up to that second
    // (and as long again for the question to go out): on the main thread the
    // event loop goes on meanwhile, and the way out ends the wait
    // (unanswered). An answer this wait gave up on is late for hasImage() too.
    ImageAnswer awaitImageAnswer() const;
    // Observers run on the main thread when another program's answer
    // changes what hasImage() says.
    void onImageAnswer(std::function<void(bool offered)> observer);
    std::vector<std::string> types() const;
    // Goes up whenever the clipboard changes, from here or elsewhere.
    int changeCount() const;

private:
    Pasteboard();
};

}  // namespace kit
