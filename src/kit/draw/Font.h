#pragma once
// Font descriptions: the system UI font or an installed family, at a size in
// points and a weight.
#include <optional>
#include <string>
#include <vector>

namespace kit {

enum class FontWeight { UltraLight, Thin, Light, Regular, Medium, Semibold, Bold, Heavy, Black };

struct Font {
    std::string family;  // empty: the system UI font
    double size = 13;
    FontWeight weight = FontWeight::Regular;
    bool italic = false;
    friend bool operator==(const Font&, const Font&) = default;

    bool isSystem() const { return family.empty(); }
    Font withSize(double s) const {
        Font f = *this;
        f.size = s;
        return f;
    }

    static Font system(double size, FontWeight weight = FontWeight::Regular) {
        return {"", size, weight, false};
    }
    // The family when it is installed (case-insensitive match), else nothing.
    static std::optional<Font> named(const std::string& family, double size,
                                     FontWeight weight = FontWeight::Regular);
    static bool exists(const std::string& family);
    // Installed families, sorted.
    static std::vector<std::string> families();
    // The family name the system UI font resolves to.
    static std::string systemFamily();
};

}  // namespace kit
