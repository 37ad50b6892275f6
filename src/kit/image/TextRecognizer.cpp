#include "kit/image/TextRecognizer.h"

#include <tesseract/capi.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "kit/base/DynamicLibrary.h"

namespace kit {

namespace {

struct LanguageData {
    const char* tag;
    const char* engine;
};

// Tags in the order the supported list gives them; Cantonese has no data of
// its own and reads with the Chinese scripts it is written in.
constexpr LanguageData kLanguages[] = {
    {"en-US", "eng"},        {"fr-FR", "fra"},        {"zh-Hans", "chi_sim"}, {"zh-Hant", "chi_tra"},
    {"it-IT", "ita"},        {"es-ES", "spa"},        {"de-DE", "deu"},       {"pt-BR", "por"},
    {"ko-KR", "kor"},        {"ja-JP", "jpn"},        {"uk-UA", "ukr"},       {"ru-RU", "rus"},
    {"yue-Hans", "chi_sim"}, {"yue-Hant", "chi_tra"}, {"th-TH", "tha"},       {"vi-VT", "vie"},
};

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The engine name for a tag: the whole tag, then language and script, then
// the language alone ("fr-CA" reads as French, "zh" as simplified Chinese).
const char* engineFor(const std::string& tag) {
    std::string t = lower(tag);
    for (int parts = 3; parts >= 1; --parts) {
        size_t cut = 0;
        for (int i = 0; i < parts && cut != std::string::npos; ++i) cut = t.find('-', cut ? cut + 1 : 0);
        std::string prefix = t.substr(0, cut);
        for (const auto& l : kLanguages) {
            std::string known = lower(l.tag);
            if (known == prefix || known.substr(0, known.find('-')) == prefix) return l.engine;
        }
    }
    return nullptr;
}

std::filesystem::path dataFolder() {
    namespace fs = std::filesystem;
    if (const char* env = std::getenv("TESSDATA_PREFIX"); env && *env) {
        for (fs::path p : {fs::path(env), fs::path(env) / "tessdata"})
            if (fs::exists(p / "eng.traineddata") || fs::is_directory(p)) return p;
    }
    for (const char* p : {"/usr/share/tesseract-ocr/5/tessdata", "/usr/share/tesseract-ocr/4.00/tessdata",
                          "/usr/share/tessdata"})
        if (fs::is_directory(p)) return p;
    return {};
}

bool installed(const std::string& engine) {
    std::error_code ec;
    return std::filesystem::exists(dataFolder() / (engine + ".traineddata"), ec);
}

// The engine's library, loaded on the first recognition rather than with
// the program: it and the libraries it brings (some fifty) were a fifth of
// every launch's start-up and took megabytes that most sessions never use.
// Its C interface, looked up once; null when the library cannot be loaded.
struct Engine {
    decltype(&TessBaseAPICreate) create;
    decltype(&TessBaseAPIDelete) destroy;
    decltype(&TessBaseAPISetVariable) setVariable;
    decltype(&TessBaseAPIInit2) init;
    decltype(&TessBaseAPISetImage) setImage;
    decltype(&TessBaseAPISetSourceResolution) setSourceResolution;
    decltype(&TessBaseAPIRecognize) recognize;
    decltype(&TessBaseAPIGetIterator) iterator;
    decltype(&TessBaseAPIClear) clear;
    decltype(&TessResultIteratorGetUTF8Text) text;
    decltype(&TessResultIteratorGetPageIteratorConst) page;
    decltype(&TessPageIteratorBoundingBox) box;
    decltype(&TessResultIteratorNext) next;
    decltype(&TessResultIteratorDelete) deleteIterator;
    decltype(&TessDeleteText) deleteText;
    // The engine's thread library (OpenMP), when it uses one.
    void (*ompSetNumThreads)(int);
    void (*ompSetDynamic)(int);
};

const DynamicLibrary& engineFile() {
    static const DynamicLibrary lib(KADRIX_TESSERACT_LIBRARY);
    return lib;
}

const Engine* loadEngine() {
    const DynamicLibrary& lib = engineFile();
    static Engine e;
    const bool all =
        lib.find(e.create, "TessBaseAPICreate") & lib.find(e.destroy, "TessBaseAPIDelete") &
        lib.find(e.setVariable, "TessBaseAPISetVariable") & lib.find(e.init, "TessBaseAPIInit2") &
        lib.find(e.setImage, "TessBaseAPISetImage") &
        lib.find(e.setSourceResolution, "TessBaseAPISetSourceResolution") &
        lib.find(e.recognize, "TessBaseAPIRecognize") & lib.find(e.iterator, "TessBaseAPIGetIterator") &
        lib.find(e.clear, "TessBaseAPIClear") & lib.find(e.text, "TessResultIteratorGetUTF8Text") &
        lib.find(e.page, "TessResultIteratorGetPageIteratorConst") &
        lib.find(e.box, "TessPageIteratorBoundingBox") & lib.find(e.next, "TessResultIteratorNext") &
        lib.find(e.deleteIterator, "TessResultIteratorDelete") & lib.find(e.deleteText, "TessDeleteText");
    if (!all) return nullptr;
    lib.find(e.ompSetNumThreads, "omp_set_num_threads");
    lib.find(e.ompSetDynamic, "omp_set_dynamic");
    return &e;
}

const Engine* engineLibrary() {
    static const Engine* e = loadEngine();
    return e;
}

struct ApiDeleter {
    void operator()(TessBaseAPI* api) const { engineLibrary()->destroy(api); }
};
using Api = std::unique_ptr<TessBaseAPI, ApiDeleter>;

// Each thread's engines by language set; initialising one loads its models,
// which is worth doing once.
thread_local std::map<std::string, Api> engines;

TessBaseAPI* engine(const Engine& lib, const std::string& languages, std::string& error) {
    auto& slot = engines[languages];
    if (slot) return slot.get();
    if (engines.size() > 4) {  // keep a handful; a language switch is rare
        engines.clear();
        return engine(lib, languages, error);
    }
    Api api(lib.create());
    lib.setVariable(api.get(), "debug_file", "/dev/null");
    std::string path = dataFolder().string();
    if (lib.init(api.get(), path.empty() ? nullptr : path.c_str(), languages.c_str(),
                 tesseract::OEM_LSTM_ONLY) != 0) {
        engines.erase(languages);
        error = "cannot load the recognition data for " + languages;
        return nullptr;
    }
    // Chinese, Japanese and Korean lines come back without blanks between
    // every character.
    if (languages.find("chi") != std::string::npos || languages.find("jpn") != std::string::npos ||
        languages.find("kor") != std::string::npos)
        lib.setVariable(api.get(), "preserve_interword_spaces", "1");
    slot = std::move(api);
    return slot.get();
}

// The engine's parallel loops ask for four threads that spin-wait for each
// other, which on a busy machine makes a recognition many times slower than
// doing it alone. Dynamic thread counts bounded by a count of one make every
// such loop run on the calling thread only; both settings belong to the
// calling thread, so they are made each time and touch nothing else.
void runSingleThreaded(const Engine& lib) {
    if (lib.ompSetNumThreads) lib.ompSetNumThreads(1);
    if (lib.ompSetDynamic) lib.ompSetDynamic(1);
}

std::string trimmed(const char* text) {
    std::string s = text ? text : "";
    size_t end = s.find_last_not_of(" \t\r\n");
    size_t begin = s.find_first_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : s.substr(begin, end - begin + 1);
}

}  // namespace

RecognitionImage RecognitionImage::of(const Image& image, double enlarge) {
    RecognitionImage out;
    if (image.isNull()) return out;
    const double w = image.width(), h = image.height();
    double s = std::max(1.0, enlarge);
    s = std::min({s, std::sqrt(double(kMaxPixels) / (w * h)), kMaxSide / w, kMaxSide / h});
    const int sw = std::max(1, int(std::lround(w * s))), sh = std::max(1, int(std::lround(h * s)));
    // Shrunk, each grey pixel is the mean of the block of pixels it covers,
    // made straight from the image: no shrunk colour copy beside it.
    Image src = image;
    if (s > 1) {
        src = image.scaled(sw, sh, ScaleQuality::Medium);
        if (src.isNull()) return out;
    }
    out.width = s > 1 ? src.width() : sw;
    out.height = s > 1 ? src.height() : sh;
    out.scaleX = out.width / w;
    out.scaleY = out.height / h;
    out.grey.resize(size_t(out.width) * size_t(out.height));
    const auto greyOf = [](const uint8_t* p) {
        // Premultiplied over white: each channel gains what alpha leaves.
        const int white = 255 - p[3];
        const int b = p[0] + white, gr = p[1] + white, r = p[2] + white;
        return uint32_t(std::min(255, (r * 77 + gr * 150 + b * 29) >> 8));
    };
    std::vector<uint64_t> sums(size_t(out.width));
    std::vector<int> firstColumn(size_t(out.width) + 1);
    for (int x = 0; x <= out.width; ++x) firstColumn[size_t(x)] = int((long long)x * src.width() / out.width);
    for (int y = 0; y < out.height; ++y) {
        const int top = int((long long)y * src.height() / out.height);
        const int bottom = std::max(top + 1, int((long long)(y + 1) * src.height() / out.height));
        std::fill(sums.begin(), sums.end(), 0);
        for (int sy = top; sy < bottom; ++sy) {
            const uint8_t* p = src.row(sy);
            for (int x = 0; x < out.width; ++x) {
                const int from = firstColumn[size_t(x)], to = std::max(from + 1, firstColumn[size_t(x) + 1]);
                for (int sx = from; sx < to; ++sx) sums[size_t(x)] += greyOf(p + size_t(sx) * 4);
            }
        }
        uint8_t* g = out.grey.data() + size_t(y) * size_t(out.width);
        for (int x = 0; x < out.width; ++x) {
            const uint64_t n = uint64_t(bottom - top) *
                               uint64_t(std::max(1, firstColumn[size_t(x) + 1] - firstColumn[size_t(x)]));
            g[x] = uint8_t((sums[size_t(x)] + n / 2) / n);
        }
    }
    return out;
}

std::string TextRecognizer::engineLanguages(const std::vector<std::string>& tags) {
    std::vector<std::string> names;
    for (const auto& tag : tags) {
        const char* e = engineFor(tag);
        if (e && installed(e) && std::find(names.begin(), names.end(), e) == names.end()) names.push_back(e);
    }
    if (names.empty()) {
        if (!installed("eng")) return {};
        names.push_back("eng");
    }
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : "+") + n;
    return joined;
}

bool TextRecognizer::hasData(const std::string& tag) {
    const char* e = engineFor(tag);
    return e && installed(e);
}

std::string TextRecognizer::dataPackage(const std::string& tag) {
    const char* e = engineFor(tag);
    if (!e) return {};
    // Debian names each data pack for its engine name, "_" written "-".
    std::string package = std::string("tesseract-ocr-") + e;
    std::replace(package.begin(), package.end(), '_', '-');
    return package;
}

std::vector<std::string> TextRecognizer::supportedLanguages() {
    std::vector<std::string> tags;
    for (const auto& l : kLanguages)
        if (installed(l.engine)) tags.push_back(l.tag);
    return tags;
}

bool TextRecognizer::canStart(const std::vector<std::string>& languages) {
    return !engineLanguages(languages).empty() && engineLibrary() != nullptr;
}

void TextRecognizer::releaseThreadEngines() {
    engines.clear();
}

TextRecognitionResult TextRecognizer::recognize(const Image& image, const TextRecognitionRequest& request) {
    TextRecognitionResult result;
    if (image.isNull()) return result;
    const std::string languages = engineLanguages(request.languages);
    if (languages.empty()) {
        result.error = "no recognition data installed";
        result.unavailable = true;
        return result;
    }
    const Engine* lib = engineLibrary();
    if (!lib) {
        result.error =
            engineFile().error().empty() ? "the recognition library is incomplete" : engineFile().error();
        result.unavailable = true;
        return result;
    }
    runSingleThreaded(*lib);
    std::string error;
    TessBaseAPI* api = engine(*lib, languages, error);
    if (!api) {
        result.error = error;
        result.unavailable = true;
        return result;
    }
    // Screen text is small for the engine; the careful level reads small
    // images at twice their size, where it recognises far more reliably.
    const bool small = double(image.width()) * image.height() <= 1'000'000;
    RecognitionImage input =
        RecognitionImage::of(image, request.level == RecognitionLevel::Accurate && small ? 2 : 1);
    if (input.grey.empty()) {
        result.error = "cannot prepare the image";
        return result;
    }
    lib->setImage(api, input.grey.data(), input.width, input.height, 1, input.width);
    lib->setSourceResolution(api, 96);
    if (lib->recognize(api, nullptr) != 0) {
        lib->clear(api);
        result.error = "recognition failed";
        return result;
    }
    std::unique_ptr<TessResultIterator, decltype(lib->deleteIterator)> it(lib->iterator(api),
                                                                          lib->deleteIterator);
    const double H = image.height();
    if (it) do {
            char* text = lib->text(it.get(), tesseract::RIL_TEXTLINE);
            std::string line = trimmed(text);
            lib->deleteText(text);
            int l, t, r, b;
            if (line.empty() || !lib->box(lib->page(it.get()), tesseract::RIL_TEXTLINE, &l, &t, &r, &b))
                continue;
            const double x = l / input.scaleX, top = t / input.scaleY;
            const double w = (r - l) / input.scaleX, h = (b - t) / input.scaleY;
            if (h < request.minimumTextHeight * H) continue;
            result.lines.push_back({Rect(x, H - top - h, w, h), line});
        } while (lib->next(it.get(), tesseract::RIL_TEXTLINE));
    it.reset();
    lib->clear(api);
    return result;
}

}  // namespace kit
