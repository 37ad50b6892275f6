#pragma once
// The user's own backdrop pictures: each one a JPEG copy of the chosen file
// and a small JPEG thumbnail in the "backdrops" folder of the application's
// data folder ($XDG_DATA_HOME/kadrix). The configuration names a picture by
// its file name only; a name that is not a plain file name of that folder is
// refused, so a stored record can never reach another file. Main thread.
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Image.h"

namespace backdrop {

struct StoreResult {
    std::optional<std::string> name;  // the stored picture's name, when stored
    std::string error;                // what went wrong, for the user
};

class CustomImages {
public:
    // The folder the pictures live in (made on first use).
    static std::string folder();
    // True for "backdrop-….jpg" names of our own making.
    static bool validName(const std::string& name);

    // Reads an image file and stores a copy and a thumbnail of it.
    static StoreResult store(const std::string& file);
    // The stored pictures, oldest first.
    static std::vector<std::string> list();
    static kit::Image load(const std::string& name, std::string* error = nullptr);
    static kit::Image thumbnail(const std::string& name);
    // Removes a picture and its thumbnail; false when it was not there.
    static bool remove(const std::string& name);

    // The long side of a thumbnail, in pixels.
    static constexpr int kThumbnailSide = 160;
};

// The plain JPEG writer: no metadata, written atomically into an existing
// folder under `name` as given; the file's path, or none (reported).
std::optional<std::string> saveImageAsJPEG(const kit::Image& image, const std::string& name,
                                           const std::string& folder, double quality);

}  // namespace backdrop
